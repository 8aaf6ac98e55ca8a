// Throughput of reading AES-256 zip data: our counter mode plus HMAC-SHA1
// over 256 MiB in memory, beside `7zz t -mmt=1` of a stored AES-256 archive
// of the same size (which also reads the file and checks the CRC). Also the
// portable AES and SHA-1 on their own, for processors without the
// instructions, and the per-entry cost of the key derivation.
//
// Usage: aes_bench [MiB]   (default 256)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "zip/crypt/aes.h"
#include "zip/crypt/aes_ctr_hmac.h"
#include "zip/crypt/sha1.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double MiBPerSecond(std::size_t bytes, double seconds) { return bytes / 1048576.0 / seconds; }

const char kPassword[] = "PASS";

// Best of three runs of the decryption of `data` (already encrypted).
double TimeDecrypt(korbel::ZipAesDecryptor& decryptor, const std::uint8_t* salt,
                   std::vector<std::uint8_t>& data, const std::uint8_t* code, bool& authentic) {
  double best = 1e30;
  std::vector<std::uint8_t> work(data.size());
  for (int run = 0; run < 3; ++run) {
    std::copy(data.begin(), data.end(), work.begin());
    const auto start = Clock::now();
    decryptor.Init(reinterpret_cast<const std::uint8_t*>(kPassword), sizeof kPassword - 1, 3, salt);
    // Blocks of the size the read stream uses.
    constexpr std::size_t kBlock = 16384;
    for (std::size_t at = 0; at < work.size(); at += kBlock) {
      decryptor.Decrypt(work.data() + at, std::min(kBlock, work.size() - at));
    }
    authentic = decryptor.FinishAuth(code);
    best = std::min(best, Seconds(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::size_t size = mebibytes << 20;
  std::vector<std::uint8_t> plain(size);
  std::mt19937_64 random(1);
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t v = random();
    for (int b = 0; b < 8; ++b) plain[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
  }

  std::printf("AES instructions: %s, SHA instructions: %s\n", korbel::Aes::HardwareAvailable() ? "yes" : "no",
              korbel::Sha1::HardwareAvailable() ? "yes" : "no");

  // Our side: encrypt once, then time decryption with authentication.
  std::uint8_t salt[16];
  for (auto& b : salt) b = static_cast<std::uint8_t>(random());
  korbel::ZipAesDecryptor decryptor;
  std::vector<std::uint8_t> encrypted = plain;
  decryptor.Init(reinterpret_cast<const std::uint8_t*>(kPassword), sizeof kPassword - 1, 3, salt);
  decryptor.Encrypt(encrypted.data(), encrypted.size());
  std::uint8_t code[korbel::ZipAesDecryptor::kAuthCodeSize];
  decryptor.FinishAuthCode(code);
  bool authentic = false;
  const double ours = TimeDecrypt(decryptor, salt, encrypted, code, authentic);
  std::printf("korbel AES-256 CTR + HMAC-SHA1 decrypt, %zu MiB: %.3f s, %.0f MiB/s%s\n", mebibytes, ours,
              MiBPerSecond(size, ours), authentic ? "" : "  (AUTHENTICATION FAILED)");

  {
    korbel::Aes aes(korbel::Aes::Engine::kPortable);
    const std::uint8_t key[32] = {1};
    aes.SetKey(key, sizeof key);
    const std::size_t part = std::min<std::size_t>(size, 64u << 20);
    std::vector<std::uint8_t> blocks(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(part));
    const auto start = Clock::now();
    aes.EncryptBlocks(blocks.data(), blocks.data(), part / 16);
    std::printf("  portable AES-256 blocks: %.0f MiB/s\n", MiBPerSecond(part, Seconds(start)));
    korbel::Sha1 sha(korbel::Sha1::Engine::kPortable);
    std::uint8_t digest[korbel::Sha1::kDigestSize];
    const auto start2 = Clock::now();
    sha.Update(plain.data(), part);
    sha.Final(digest);
    std::printf("  portable SHA-1: %.0f MiB/s\n", MiBPerSecond(part, Seconds(start2)));
  }
  {
    const int entries = 200;
    const auto start = Clock::now();
    for (int i = 0; i < entries; ++i) {
      decryptor.Init(reinterpret_cast<const std::uint8_t*>(kPassword), sizeof kPassword - 1, 3, salt);
    }
    std::printf("  key derivation (strength 3): %.3f ms per entry\n", Seconds(start) * 1000 / entries);
  }

  // The peer: 7zz testing a stored AES-256 archive of the same bytes.
  if (std::system("7zz i >/dev/null 2>&1") != 0) {
    std::printf("7zz not found: no comparison\n");
    return authentic ? 0 : 1;
  }
  std::random_device seed;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("korbel-aes-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "data.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plain.size()));
  const std::string cd = "cd '" + folder.string() + "' && ";
  double peer = 1e30;
  if (std::system((cd + "7zz a -tzip -pPASS -mem=AES256 -mm=Copy a.zip data.bin >/dev/null").c_str()) == 0) {
    for (int run = 0; run < 3; ++run) {
      const auto start = Clock::now();
      const int status = std::system((cd + "7zz t -mmt=1 -pPASS a.zip >/dev/null").c_str());
      const double seconds = Seconds(start);
      if (status != 0) {
        std::printf("7zz t failed\n");
        break;
      }
      peer = std::min(peer, seconds);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (peer < 1e30) {
    std::printf("7zz t -mmt=1, stored AES-256 archive, %zu MiB: %.3f s, %.0f MiB/s\n", mebibytes, peer,
                MiBPerSecond(size, peer));
    std::printf("ratio korbel / 7zz time: %.2f (goal: at most 2)\n", ours / peer);
  }
  return authentic ? 0 : 1;
}
