#include "system/ClientSign.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/Registry.h"
#include "system/SystemInfo.h"

namespace {

constexpr size_t kMaxSignChars = 50;
const wchar_t kSignValue[] = L"ClientSign";

struct Xorshift128Plus {
  uint64_t s0 = 0;
  uint64_t s1 = 0;

  uint64_t Next() {
    uint64_t x = s0;
    const uint64_t y = s1;
    s0 = y;
    x ^= x << 23;
    s1 = x ^ y ^ (x >> 18) ^ (y >> 5);
    return s1 + y;
  }
};

// Starts all zero; a failed reseed leaves whatever the previous draws left behind.
std::mutex g_stateLock;
Xorshift128Plus g_state;

uint64_t LoadLittleEndian(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool ReadKernelRandom(uint8_t out[16]) {
  size_t done = 0;
  while (done < 16) {
    const ssize_t n = getrandom(out + done, 16 - done, 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  if (done == 16) return true;

  // Kernels without the system call still have the device.
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  done = 0;
  while (done < 16) {
    const ssize_t n = read(fd, out + done, 16 - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (!(n < 0 && errno == EINTR)) {
      break;
    }
  }
  close(fd);
  return done == 16;
}

std::wstring FormatSign(Xorshift128Plus& gen) {
  uint8_t bytes[16];
  for (int w = 0; w < 2; ++w) {
    const uint64_t v = gen.Next();
    for (int i = 0; i < 8; ++i) bytes[w * 8 + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  static const wchar_t kHex[] = L"0123456789abcdef";
  static const wchar_t kVariant[] = L"89ab";
  static const wchar_t kTemplate[] = L"xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";
  std::wstring out = L"{";
  size_t nibble = 0;  // 31 of the 32 half-bytes are used
  for (const wchar_t* t = kTemplate; *t; ++t) {
    if (*t != L'x' && *t != L'y') {
      out.push_back(*t);
      continue;
    }
    const uint8_t byte = bytes[nibble / 2];
    const unsigned half = (nibble % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
    ++nibble;
    out.push_back(*t == L'x' ? kHex[half] : kVariant[half & 3]);
  }
  out += L"G}";
  return out;
}

std::wstring ReadSignValue(plat::Hive hive, plat::RegView view, const std::wstring& key) {
  std::wstring text = plat::Registry::ReadString(hive, view, key, kSignValue).value_or(std::wstring());
  if (text.size() > kMaxSignChars) text.resize(kMaxSignChars);
  return text;
}

}  // namespace

std::wstring BrandSignKey(const std::wstring& brand) {
  return L"Software\\" + brand + L"\\" + brand + L" Kelvadex\\";
}

std::wstring BrandDataKey(const std::wstring& brand) { return L"Software\\" + brand + L"\\BRX\\"; }

std::wstring ReadClientSign(const std::wstring& brand) {
  using plat::Hive;
  const std::wstring signKey = BrandSignKey(brand);
  // The user's key is created on the way, as the reader always did.
  plat::Registry::CreateKey(Hive::CurrentUser, plat::RegView::Default, signKey);
  std::wstring sign = ReadSignValue(Hive::CurrentUser, plat::RegView::Default, signKey);
  if (!sign.empty()) return sign;
  sign = ReadSignValue(Hive::LocalMachine, MachineRegView(), signKey);
  if (!sign.empty()) return sign;
  return ReadSignValue(Hive::LocalMachine, MachineRegView(), BrandDataKey(brand));
}

std::wstring GetClientSign(const std::wstring& brand) {
  std::wstring sign = ReadClientSign(brand);
  if (!sign.empty()) return sign;
  sign = NewClientSign();
  plat::Registry::WriteString(plat::Hive::LocalMachine, MachineRegView(), BrandSignKey(brand), kSignValue, sign);
  plat::Registry::WriteString(plat::Hive::LocalMachine, MachineRegView(), BrandDataKey(brand), kSignValue, sign);
  return sign;
}

std::wstring NewClientSign() {
  uint8_t seed[16];
  const bool seeded = ReadKernelRandom(seed);
  std::lock_guard<std::mutex> lock(g_stateLock);
  if (seeded) {
    g_state.s0 = LoadLittleEndian(seed);
    g_state.s1 = LoadLittleEndian(seed + 8);
  }
  return FormatSign(g_state);
}

std::wstring ClientSignFromState(uint64_t s0, uint64_t s1) {
  Xorshift128Plus gen{s0, s1};
  return FormatSign(gen);
}

std::wstring ClientSignFromSeed(const uint8_t seed[16]) {
  return ClientSignFromState(LoadLittleEndian(seed), LoadLittleEndian(seed + 8));
}
