#pragma once

// The parts of the Linux instance channel that tests drive with folders of their own.

#include <string>

namespace Corvan
{
namespace Platform
{

// The socket path for `base` and the display `session` (characters outside [A-Za-z0-9._-] become
// "_"): inside `runtimeFolder` when that is a real folder of ours that no one else may enter (the
// desktop's XDG_RUNTIME_DIR), otherwise inside a folder "corvan-html-starter-<uid>" under
// `fallbackRoot`, made with mode 0700 if missing. Empty when neither is private to us, or when the
// path would be too long for a socket address; `strRefusedFolder` then names the fallback folder when
// it was there but not private (taken by another user, open to others, a link).
std::string InstanceChannelNameIn(const std::string& base, const std::string& session, const std::string& runtimeFolder,
                                  const std::string& fallbackRoot, std::string& strRefusedFolder);

} // namespace Platform
} // namespace Corvan
