#include "KWUpdater.h"

int main(int argc, char** argv)
{
    return kw::updater::RunUpdater(argc, argv);
}
