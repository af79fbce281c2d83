# Sourced by the README's two commands from the repository root: installs what
# the project needs (scripts/setup.sh), makes the project's Wine prefix and
# sets the Wine environment (ORVANE_WINE, ORVANE_CAN_RUN_WIN32, WINEPREFIX ...).
./scripts/setup.sh
./scripts/wine-prefix.sh >/dev/null
source scripts/wine-env.sh
