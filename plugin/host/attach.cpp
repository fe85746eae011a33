#include "host/attach.h"

static int HOST_STDCALL unused30007(int, int) {
  return 0;
}

HostAttachment hostAttachment = {nullptr, nullptr, &unused30007};

void attachHost() {
  if (hostAttachment.hostModule) return;
  hostAttachment.hostModule = GetModuleHandleA("VELKAR");
  if (!hostAttachment.hostModule) return;
  hostAttachment.hostCallback = procAs<HostCallback>(
      GetProcAddress(hostAttachment.hostModule, reinterpret_cast<LPCSTR>(HOST_ORDINAL_CALLBACK)));
  hostAttachment.ordinal30007 = procAs<HostCallback>(
      GetProcAddress(hostAttachment.hostModule, reinterpret_cast<LPCSTR>(HOST_ORDINAL_30007)));
}
