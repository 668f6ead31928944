// Writes a tree of source files for the image benchmarks.
//
//   fornax_bench_tree ROOT --files N --folders M --min BYTES --max BYTES [--seed S]
//
// With M > 0 the root holds only folders: about sqrt(M) of them at the top and
// the rest one level below, round-robin; the N files are spread evenly over all
// M folders, so M = 1 puts every file into one folder. With M = 0 the files go
// straight into ROOT. Sizes are uniform in
// [min, max]; contents come from a pseudo-random stream, so no file is sparse
// and no two files share their bytes. ROOT must not exist yet.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_names.h"

namespace {

using fornax::bench::TXorShift;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "fornax_bench_tree: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0) Die("cannot create " + path);
}

void WriteFile(const std::string& path, uint64_t size, TXorShift& random, std::vector<uint64_t>& buffer) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot create " + path);
  uint64_t left = size;
  while (left > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, buffer.size() * sizeof(uint64_t)));
    for (size_t i = 0; i < (piece + 7) / 8; ++i) buffer[i] = random.Next();
    const char* data = reinterpret_cast<const char*>(buffer.data());
    size_t done = 0;
    while (done < piece) {
      const ssize_t n = ::write(fd, data + done, piece - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("cannot write " + path);
      done += static_cast<size_t>(n);
    }
    left -= piece;
  }
  if (::close(fd) != 0) Die("cannot close " + path);
}

uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (!end || *end) {
    std::fprintf(stderr, "fornax_bench_tree: not a number: %s\n", text);
    std::exit(2);
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fornax_bench_tree ROOT --files N --folders M --min BYTES --max BYTES [--seed S]\n");
    return 2;
  }
  const std::string root = argv[1];
  uint64_t files = 0, folders = 0, low = 0, high = 0, seed = 1;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const uint64_t value = Number(argv[i + 1]);
    if (option == "--files") files = value;
    else if (option == "--folders") folders = value;
    else if (option == "--min") low = value;
    else if (option == "--max") high = value;
    else if (option == "--seed") seed = value;
    else {
      std::fprintf(stderr, "fornax_bench_tree: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (high < low) high = low;

  MakeFolder(root);
  std::vector<std::string> paths;
  if (folders == 0) {
    paths.push_back(root);
  } else {
    const uint64_t top = std::max<uint64_t>(1, std::llround(std::sqrt(static_cast<double>(folders))));
    for (uint64_t i = 0; i < folders; ++i) {
      const std::string parent = i < top ? root : paths[(i - top) % top];
      paths.push_back(parent + "/" + fornax::bench::FolderName(i));
      MakeFolder(paths.back());
    }
  }

  TXorShift random(seed);
  std::vector<uint64_t> buffer(1 << 17);  // 1 MiB
  uint64_t bytes = 0;
  for (uint64_t n = 0; n < files; ++n) {
    const uint64_t size = random.Between(low, high);
    const std::string name = folders == 0 ? "part-" + std::to_string(n) + ".bin" : fornax::bench::FileName(n);
    WriteFile(paths[n % paths.size()] + "/" + name, size, random, buffer);
    bytes += size;
  }
  std::printf("%s: %llu files, %llu folders, %.1f MiB\n", root.c_str(),
              static_cast<unsigned long long>(files), static_cast<unsigned long long>(folders),
              static_cast<double>(bytes) / 1048576.0);
  return 0;
}
