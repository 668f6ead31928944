#include "engine/platform/folder_walk.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "engine/platform/system_file_systems.h"

namespace fornax {

TEnteredFolder TFolderWalk::Refused(TFolderRefusal refusal, std::string reason) const {
  TEnteredFolder folder;
  folder.Refusal = refusal;
  folder.Reason = std::move(reason);
  return folder;
}

void TFolderWalk::Record(TEnteredFolder& folder) {
  FEntered.emplace(folder.Device, folder.Inode);
}

TEnteredFolder TFolderWalk::EnterRoot(const std::string& Path) {
  std::string system = SystemFileSystemAt(AT_FDCWD, Path, true);
  if (!system.empty()) return Refused(TFolderRefusal::SystemFileSystem, std::move(system));
  TEnteredFolder root;
  root.Folder = TOpenFolder::Open(Path);
  if (!root.Folder.IsOpen()) return Refused(TFolderRefusal::Unreadable, SystemErrorText(root.Folder.Error()));
  struct stat info {};
  if (fstat(root.Folder.Descriptor(), &info) != 0) return Refused(TFolderRefusal::Unreadable, SystemErrorText(errno));
  root.Device = static_cast<uint64_t>(info.st_dev);
  root.Inode = static_cast<uint64_t>(info.st_ino);
  Record(root);
  return root;
}

TEnteredFolder TFolderWalk::EnterChild(const TEnteredFolder& Parent, const std::string& Name,
                                       uint64_t Device, uint64_t Inode) {
  if (FEntered.count({Device, Inode}) != 0) return Refused(TFolderRefusal::ReachedTwice, "");
  // A folder on its parent's device lies on its parent's file system, so only
  // a mount point needs asking: once per mount, not once per folder.
  if (Device != Parent.Device) {
    std::string system = SystemFileSystemAt(Parent.Folder.Descriptor(), Name, false);
    if (!system.empty()) return Refused(TFolderRefusal::SystemFileSystem, std::move(system));
  }
  TEnteredFolder child;
  child.Folder = Parent.Folder.OpenChild(Name);
  if (!child.Folder.IsOpen()) return Refused(TFolderRefusal::Unreadable, SystemErrorText(child.Folder.Error()));
  child.Device = Device;
  child.Inode = Inode;
  Record(child);
  return child;
}

}  // namespace fornax
