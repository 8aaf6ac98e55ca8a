// The files a benchmark sample is read from: a file as it is, or every
// regular file below a folder (links not followed), in name order so that
// two runs read the same bytes.
#ifndef PAKKARO_BENCH_SAMPLE_FILES_H
#define PAKKARO_BENCH_SAMPLE_FILES_H

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace bench {

inline std::vector<std::filesystem::path> SampleFiles(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_regular_file(path, error)) return {path};
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace bench

#endif  // PAKKARO_BENCH_SAMPLE_FILES_H
