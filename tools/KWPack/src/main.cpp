// Entry point of KWPack, the update package producer.
#include "Cli.h"

int main(int argc, char** argv)
{
    return kwpack::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
