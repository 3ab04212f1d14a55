#include "platform/FolderWatcher.h"

// The Windows watcher (ReadDirectoryChangesW over the tree) is not written yet: live reload says
// it is off, and serving goes on unchanged.

namespace Corvan
{

struct CFolderWatcher::CImpl
{
};

CFolderWatcher::CFolderWatcher() = default;

CFolderWatcher::~CFolderWatcher() = default;

void CFolderWatcher::Start(const std::string&, const CLimits&, ReadyCallback, ChangeCallback, FailureCallback onFailure)
{
    onFailure("watching folders is not supported on this system yet");
}

void CFolderWatcher::Stop() {}

} // namespace Corvan
