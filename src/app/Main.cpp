#include <windows.h>

#include "app/Config.h"
#include "app/Logger.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*showCommand*/)
{
    using namespace Orvane;

    // A log a player can send to support; the program runs the same without it.
    Logger::Instance().OpenBesideExecutable();
    Config::Instance().Load();
    Logger::Instance().Write(LogLevel::Info, "Orvane 1.0.1 started, portal " +
                                                 Config::Instance().portalUrl);
    return 0;
}
