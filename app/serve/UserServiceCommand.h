// `zelvorn serve --install-user-service` and `zelvorn serve --remove-user-service`: makes
// `zelvorn serve` start with the user's desktop session, for users who built it themselves (the
// package installs the same unit for everyone). Installing writes zelvorn.service, naming this
// executable, into the user's systemd folder ($XDG_CONFIG_HOME/systemd/user) and runs
// `systemctl --user daemon-reload` and `systemctl --user enable --now zelvorn.service`; removing
// disables and stops it, removes the file and reloads.
//
// Returns the exit code: 0 done, 1 a file or systemctl failed (what to do is printed), 2 wrong
// arguments.
#pragma once

extern const char* const kUserServiceUsage;

// True when the arguments of `zelvorn serve` ask for this command.
bool wantsUserService(int argc, char** argv);
int runUserService(int argc, char** argv);
