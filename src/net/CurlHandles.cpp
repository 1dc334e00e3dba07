#include "net/CurlHandles.h"

#include <new>

void AppendCurlLine(CurlList& list, const std::string& line) {
  // curl_slist_append returns the list's head (a new one for an empty list)
  // and leaves the list untouched when it fails.
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (head == nullptr) {
    throw std::bad_alloc();
  }
  (void)list.release();
  list.reset(head);
}
