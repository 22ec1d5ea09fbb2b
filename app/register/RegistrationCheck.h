// RegistrationCheck: tells the user when the user's own registration hides this executable's
// module. A registration made from a build tree (scripts/setup) sits in the user's hive and wins
// over the machine's, so an installed zelvorn would otherwise run, unannounced, a module that
// may be older, elsewhere or gone.
//
// Stateless; called by the hosts before they create their first control.
#pragma once

namespace RegistrationCheck {

// Writes one line to standard error when the user's hive registers the control with a module
// other than InstallLayout::module(); says nothing otherwise.
void noticeOtherUserModule();

}  // namespace RegistrationCheck
