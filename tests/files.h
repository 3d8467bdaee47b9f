#pragma once
// Small picture files written and read byte by byte, and a scratch folder per test.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A binary PGM (one channel) or PPM (three channels, interleaved) of 8-bit samples.
inline std::string pnm_bytes(unsigned w, unsigned h, unsigned channels, const std::vector<unsigned char>& planar) {
  std::string out = (channels == 1 ? "P5\n" : "P6\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (unsigned i = 0; i < w * h; ++i)
    for (unsigned c = 0; c < channels; ++c) out += static_cast<char>(planar[i + w * h * c]);
  return out;
}

// The samples of a binary PGM or PPM, planar; empty if the file is not one.
inline std::vector<unsigned char> pnm_samples(const std::string& bytes, unsigned& w, unsigned& h, unsigned& channels) {
  std::istringstream in(bytes);
  std::string magic;
  unsigned maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  if ((magic != "P5" && magic != "P6") || maxval != 255) return {};
  channels = magic == "P5" ? 1 : 3;
  std::vector<unsigned char> planar(std::size_t(w) * h * channels);
  for (unsigned i = 0; i < w * h; ++i)
    for (unsigned c = 0; c < channels; ++c) planar[i + w * h * c] = static_cast<unsigned char>(in.get());
  return planar;
}

// A fresh folder removed after the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/tmp/kelvane-test-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  // Names in the folder, for spotting leftover temporary files.
  std::vector<std::string> entries() const { return entries_of(path_); }
  static std::vector<std::string> entries_of(const std::string& folder);

 private:
  std::string path_;
};
