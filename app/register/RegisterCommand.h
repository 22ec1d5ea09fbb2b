// `zelvorn register [--user] [--unregister] [module]`: loads a module and runs its registration
// entry points, as regsvr32 does. Without a module path it takes this executable's own module
// (InstallLayout). --user writes the user's hive (DllInstall with "user"), otherwise the
// machine's. Returns the process exit code: 0 done, 1 failed, 2 wrong arguments.
#pragma once

int runRegister(int argc, char** argv);
