#pragma once

#include <cstdint>
#include <string>

namespace Corvan
{
namespace Platform
{

// The address through which a second start of the tool hands its file to the first one: a local
// socket path (Unix) or a named pipe name (Windows), private to the user and their session, built
// from `base`. Empty when no private place can be had; the tool then runs on its own, and
// `strRefusedFolder` names the folder that was not private to the user, if a folder was the reason.
std::string InstanceChannelName(const std::string& base, std::string& strRefusedFolder);

// Whether the listener must restrict who may connect itself (a pipe's access list) because the
// address alone does not keep other users out, as the private folder of a Unix socket does.
bool ChannelNeedsAccessList();

// True when the process at the other end of the connected local socket or pipe `handle` (its native
// descriptor) runs as the same user as this process; false when that cannot be told.
bool PeerIsSameUser(std::intptr_t handle);

} // namespace Platform
} // namespace Corvan
