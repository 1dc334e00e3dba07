#include "stream/StreamSource.h"

#include <new>

#include "stream/StreamBuffer.h"

StreamSource::StreamSource() { ResetSource(); }

StreamSource::~StreamSource() {
  worker.Stop(WorkerThread::kDefaultTimeoutMs);
  ClearObservers();
  ResetSource();
}

void StreamSource::Reset() { ResetSource(); }

void StreamSource::ResetSource() {
  SetState(StreamState::Disconnected);
  {
    MutexLock lock(observerLock);
    received.Reset();
    receivedComplete.Reset();
    currentTitle.clear();
  }
  FreeReadBuffer();
}

bool StreamSource::AddObserver(StreamObserver* observer) {
  if (observer == nullptr) {
    return false;
  }
  MutexLock lock(observerLock);
  observers.push_back(observer);
  return true;
}

void StreamSource::ClearObservers() {
  MutexLock lock(observerLock);
  observers.clear();
}

void StreamSource::SetReadSize(int32_t bytes) {
  readSize.store(bytes > 0 ? bytes : kDefaultReadSize, std::memory_order_release);
}

void StreamSource::SetState(StreamState newState) {
  StoreState(newState);
  Notify(StreamEvent::State, StreamStateText(newState));
}

void StreamSource::Notify(StreamEvent kind, const std::string& text) {
  MutexLock lock(observerLock);
  if (kind == StreamEvent::Title && text != currentTitle) {
    if (!currentTitle.empty()) {
      received.Reset();
      NotifyCountersLocked();
    }
    currentTitle = text;
  }
  for (StreamObserver* observer : observers) {
    observer->OnText(kind, text);
  }
}

void StreamSource::NotifyCounters() {
  MutexLock lock(observerLock);
  NotifyCountersLocked();
}

void StreamSource::NotifyCountersLocked() {
  if (observers.empty()) {
    return;
  }
  const std::string receivedText = received.FormatDigits();
  const std::string completeText = receivedComplete.FormatDigits();
  for (StreamObserver* observer : observers) {
    observer->OnText(StreamEvent::Received, receivedText);
    observer->OnText(StreamEvent::ReceivedComplete, completeText);
  }
}

void StreamSource::DeliverAudio(const StreamBuffer* buffer) {
  if (buffer == nullptr) {
    return;
  }
  MutexLock lock(observerLock);
  receivedComplete.Add(buffer->Size());
  received.Add(buffer->Size());
  NotifyCountersLocked();
  for (StreamObserver* observer : observers) {
    observer->OnAudio(*buffer);
  }
}

void StreamSource::EndRead() {
  MutexLock lock(observerLock);
  for (StreamObserver* observer : observers) {
    observer->OnReadEnd();
  }
}

bool StreamSource::AllocateReadBuffer() {
  FreeReadBuffer();
  try {
    readBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(ReadSize()));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void StreamSource::FreeReadBuffer() { readBuffer.reset(); }

bool StreamSource::StartWorker() { return worker.Start(); }

bool StreamSource::StopWorker() { return worker.Stop(WorkerThread::kDefaultTimeoutMs); }
