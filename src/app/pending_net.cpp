// Placeholders until the connection layer provides the monitor stores.
#include <cstring>

#include "net/net.h"

namespace {
char g_receiveRing[kMonitorRingSlots][kMonitorRingSlotBytes];
char g_sendRing[kMonitorRingSlots][kMonitorRingSlotBytes];
char g_directoryTable[kMonitorTableSlots][kMonitorTableSlotBytes];
}  // namespace

void CopyReceiveRingSlots(char (*out)[kMonitorRingSlotBytes]) { memcpy(out, g_receiveRing, sizeof g_receiveRing); }
void CopySendRingSlots(char (*out)[kMonitorRingSlotBytes]) { memcpy(out, g_sendRing, sizeof g_sendRing); }
void CopyDirectoryTableSlots(char (*out)[kMonitorTableSlotBytes]) {
    memcpy(out, g_directoryTable, sizeof g_directoryTable);
}
void SetMonitorSlotForTest(int store, int slot, const char* bytes, int length) {
    char* target = nullptr;
    int size = 0;
    if (store == 0 && slot >= 0 && slot < kMonitorRingSlots) target = g_receiveRing[slot], size = kMonitorRingSlotBytes;
    if (store == 1 && slot >= 0 && slot < kMonitorRingSlots) target = g_sendRing[slot], size = kMonitorRingSlotBytes;
    if (store == 2 && slot >= 0 && slot < kMonitorTableSlots) target = g_directoryTable[slot], size = kMonitorTableSlotBytes;
    if (!target) return;
    int n = length < 0 ? 0 : (length > size ? size : length);
    memset(target, 0, static_cast<size_t>(size));
    if (n > 0) memcpy(target, bytes, static_cast<size_t>(n));
}
