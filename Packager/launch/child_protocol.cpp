#include "launch/child_protocol.h"

namespace qnvpd {

const MessagePosting& SystemMessagePosting() {
  static const MessagePosting posting = {PostMessageW};
  return posting;
}

std::wstring FormatNotifyToken(HWND window) {
  // The handle's 32-bit value as a signed number, as the installer reads it back.
  long value = static_cast<long>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
  return L"/W32:" + std::to_wstring(value) + L":" + std::to_wstring(kResultMessage);
}

void PostQuitRequest(HWND window, const MessagePosting& posting) {
  if (!posting.postMessage(window, kQuitRequest, 0, 0)) PostQuitMessage(0);
}

}  // namespace qnvpd
