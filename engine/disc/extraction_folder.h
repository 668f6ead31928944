#pragma once
// A folder that files of a disc are extracted into. Everything below it is
// made relative to its descriptor, one safe component at a time, never
// through a symbolic link and never outside it, whatever the names of the
// disc are and whatever links the folder already holds. Only the path the
// user chose is taken as given.

#include <string>

namespace fornax {

class TExtractionFolder {
 public:
  TExtractionFolder() = default;
  ~TExtractionFolder();
  TExtractionFolder(TExtractionFolder&& other) noexcept;
  TExtractionFolder& operator=(TExtractionFolder&& other) noexcept;
  TExtractionFolder(const TExtractionFolder&) = delete;
  TExtractionFolder& operator=(const TExtractionFolder&) = delete;

  // The folder at `path`, made with its parents when missing.
  static TExtractionFolder OpenDestination(const std::string& path, std::string& error);
  // The folder `path` names, which must exist.
  static TExtractionFolder OpenExisting(const std::string& path, std::string& error);

  bool Opened() const { return FDescriptor >= 0; }
  int Descriptor() const { return FDescriptor; }
  // The folder's path, for messages.
  const std::string& Path() const { return FPath; }
  std::string PathOf(const std::string& name) const { return FPath + "/" + name; }

  // The subfolder `name`, made when missing. A link, a file or a name that
  // is no safe component there is refused with `error` saying why.
  TExtractionFolder Subfolder(const std::string& name, std::string& error) const;
  // Opens `name` in this folder as open(2) would with `flags`, beneath this
  // folder only and following no link; -1 with errno set otherwise (EINVAL
  // for a name that is no safe component).
  int OpenBeneath(const std::string& name, int flags, unsigned mode) const;

 private:
  TExtractionFolder(int descriptor, std::string path) : FDescriptor(descriptor), FPath(std::move(path)) {}

  int FDescriptor = -1;
  std::string FPath;
};

}  // namespace fornax
