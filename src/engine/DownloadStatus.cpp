#include "engine/DownloadStatus.h"

namespace ns_KDL {

const char* DownloadStatusText(int32_t code) {
  static const char* const kTexts[] = {
      "",                                // 0
      "Already downloaded",              // 1
      "Connection failed",               // 2
      "Receive failed",                  // 3
      "Send failed",                     // 4
      "Get site information failed",     // 5
      "Download task allocation failed",  // 6
      "Buffer error",                    // 7
      "Parameter error",                 // 8
      "File operation failed",           // 9
      "Insufficient disk space",         // 10
      "MD5 verification failed",         // 11
      "File size error",                 // 12
      "User canceled",                   // 13
      "Download failed",                 // 14
      "Unknown error",                   // 15
      "End event error",                 // 16
      "Save path error",                 // 17
      "PID error",                       // 18
      "URL error",                       // 19
      "URL parsing error",               // 20
      "Thread creation error",           // 21
      "Timeout",                         // 22
      "SSL verification failed",         // 23
      "DNS resolve failed",              // 24
      "Too many redirects",              // 25
      "Server closed connection",        // 26
  };
  constexpr int32_t kCount = static_cast<int32_t>(sizeof(kTexts) / sizeof(kTexts[0]));
  if (code < 0 || code >= kCount) return "Unknown error";
  return kTexts[code];
}

}  // namespace ns_KDL
