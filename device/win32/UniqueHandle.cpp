#include "device/win32/UniqueHandle.h"

#include <windows.h>

namespace brintel {

void UniqueHandle::Close(void* handle) {
  ::CloseHandle(handle);
}

}  // namespace brintel
