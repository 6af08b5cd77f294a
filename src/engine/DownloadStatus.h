#pragma once
// The one code a downloader keeps for its task: the result reported at the end and the code
// behind most failures. The texts are what the install manager logs and reports.
#include <cstdint>

namespace ns_KDL {

enum DownloadStatus : int32_t {
  DS_SUCCESS = 0,                 // also the value while an attempt has no error
  DS_ALREADY_DOWNLOADED = 1,      // the finished file was already present and valid
  DS_CONNECT_FAILED = 2,
  DS_RECEIVE_FAILED = 3,          // receive error, range error, or response status 416
  DS_SEND_FAILED = 4,
  DS_GET_SITE_INFO_FAILED = 5,    // the package size cannot be obtained
  DS_TASK_ALLOCATION_FAILED = 6,  // not set by the engine
  DS_BUFFER_ERROR = 7,            // the segment buffer is below the minimum
  DS_PARAMETER_ERROR = 8,         // not set by the engine
  DS_FILE_OPERATION_FAILED = 9,   // creating the temporary file or the final rename failed
  DS_INSUFFICIENT_DISK_SPACE = 10,  // extending the temporary file to full size failed
  DS_MD5_FAILED = 11,             // the MD5 check failed after all its retries
  DS_FILE_SIZE_ERROR = 12,        // the finished file does not have the expected size
  DS_USER_CANCELED = 13,          // a segment was cancelled (pause, remove, shutdown)
  DS_DOWNLOAD_FAILED = 14,        // not set by the engine
  DS_UNKNOWN_ERROR = 15,          // not set by the engine
  DS_END_EVENT_ERROR = 16,        // not set by the engine
  DS_SAVE_PATH_ERROR = 17,        // not set by the engine
  DS_PID_ERROR = 18,              // not set by the engine
  DS_URL_ERROR = 19,              // not set by the engine
  DS_URL_PARSING_ERROR = 20,      // not set by the engine
  DS_THREAD_CREATION_ERROR = 21,  // not set by the engine
  DS_TIMEOUT = 22,                // transfer timed out
  DS_SSL_VERIFY_FAILED = 23,      // TLS handshake or certificate errors
  DS_DNS_RESOLVE_FAILED = 24,     // host name resolution failed
  DS_TOO_MANY_REDIRECTS = 25,     // redirect limit reached
  DS_SERVER_CLOSED = 26,          // server sent nothing
  DS_OTHER_TRANSFER_ERROR = 27,   // any other transfer error; 27 and above read "Unknown error"
};

// The text of a code: "" for 0, "Unknown error" for 27 and above and for negative codes.
// Never null.
const char* DownloadStatusText(int32_t code);

}  // namespace ns_KDL
