#include "engine/DownloadStatus.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DownloadStatusTest, DownloadStatusText_EveryCode) {
  struct Case {
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {ns_KDL::DS_SUCCESS, ""},
      {ns_KDL::DS_ALREADY_DOWNLOADED, "Already downloaded"},
      {2, "Connection failed"},
      {3, "Receive failed"},
      {4, "Send failed"},
      {5, "Get site information failed"},
      {6, "Download task allocation failed"},
      {7, "Buffer error"},
      {8, "Parameter error"},
      {ns_KDL::DS_FILE_OPERATION_FAILED, "File operation failed"},
      {ns_KDL::DS_INSUFFICIENT_DISK_SPACE, "Insufficient disk space"},
      {11, "MD5 verification failed"},
      {12, "File size error"},
      {ns_KDL::DS_USER_CANCELED, "User canceled"},
      {14, "Download failed"},
      {15, "Unknown error"},
      {16, "End event error"},
      {17, "Save path error"},
      {18, "PID error"},
      {19, "URL error"},
      {20, "URL parsing error"},
      {21, "Thread creation error"},
      {22, "Timeout"},
      {23, "SSL verification failed"},
      {24, "DNS resolve failed"},
      {25, "Too many redirects"},
      {26, "Server closed connection"},
      {ns_KDL::DS_OTHER_TRANSFER_ERROR, "Unknown error"},
      {28, "Unknown error"},
      {INT32_MAX, "Unknown error"},
      {-1, "Unknown error"},
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(ns_KDL::DownloadStatusText(c.code)), c.text) << c.code;
  EXPECT_EQ(ns_KDL::DS_INSUFFICIENT_DISK_SPACE, 10);
  EXPECT_EQ(ns_KDL::DS_USER_CANCELED, 13);
  EXPECT_EQ(ns_KDL::DS_OTHER_TRANSFER_ERROR, 27);
}

}  // namespace
