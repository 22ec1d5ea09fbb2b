// `zelvorn register-browser [--user|--system] --extension-id ID... [--unregister]`: makes
// `zelvorn native` reachable from browser extensions. It writes the native-messaging host
// manifest "com.dravik.zelvorn.json" where Chrome, Chromium and Firefox look for it (the user's
// own folders with --user, the default; the machine's with --system, under $DESTDIR when set)
// and, since a manifest names a program without arguments, a small launcher that runs this
// executable's `native`. A Chrome or Chromium ID (32 letters a to p) goes into their manifests, a
// Firefox ID (name@domain or {uuid}) into Firefox's; --extension-id may be repeated. Each run
// writes every browser's manifest anew: a browser none of the IDs is for loses its manifest.
// --unregister removes the manifests and the launcher. The user's folders follow the XDG rules
// (UserFolders): a relative XDG variable is ignored, so every path a manifest names is absolute.
//
// Returns the exit code: 0 done, 1 a file could not be written or removed, 2 wrong arguments.
#pragma once

extern const char* const kRegisterBrowserUsage;

int runRegisterBrowser(int argc, char** argv);
