#include "platform/MessageLoop.h"

#include <chrono>

namespace plat {

bool SentMessage::Begin() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_state != State::Waiting) return false;
  m_state = State::Running;
  return true;
}

void SentMessage::Complete(bool delivered, int64_t result) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == State::Done || m_state == State::Abandoned) return;
    m_state = State::Done;
    m_delivered = delivered;
    m_result = result;
  }
  m_cv.notify_all();
}

bool SentMessage::Wait(int timeoutMs, int64_t& result) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (timeoutMs < 0) {
    m_cv.wait(lock, [this] { return m_state == State::Done; });
  } else {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    m_cv.wait_until(lock, deadline, [this] { return m_state != State::Waiting; });
    if (m_state == State::Waiting) {
      m_state = State::Abandoned;
      return false;
    }
    // Once the handler has started, its effects happen anyway; report them.
    m_cv.wait(lock, [this] { return m_state == State::Done; });
  }
  result = m_result;
  return m_delivered;
}

int IMessageLoop::Run() {
  Message msg;
  while (GetMessage(msg)) DispatchMessage(msg);
  return static_cast<int>(static_cast<int64_t>(msg.wParam));
}

bool IMessageLoop::SendMessage(const Message& message, int64_t& result, int timeoutMs) {
  if (IsLoopThread()) {
    result = DispatchMessage(message);
    return true;
  }
  auto sent = std::make_shared<SentMessage>(message);
  if (!QueueSend(sent)) return false;
  return sent->Wait(timeoutMs, result);
}

}  // namespace plat
