// Entry point of KWPack, the update package producer. It works in UTF-8
// throughout, whatever the system's code page.
#include "Cli.h"

#include "NativeText.h"

int main(int argc, char** argv)
{
    return kwpack::RunCommandLine(kw::updater::Utf8Arguments(argc, argv));
}
