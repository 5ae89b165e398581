// Row rules shared by both panes and the directory records: size text,
// date text and row image.
#pragma once

#include "core/base/text.h"

namespace quorbel {

// Calendar fields of a local time (what FileTimeToSystemTime gives).
struct LocalTimeFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

// Drive types as GetDriveTypeW reports them.
enum DriveType : int {
    kDriveUnknown = 0, kDriveNoRootDir = 1, kDriveRemovable = 2, kDriveFixed = 3,
    kDriveRemote = 4, kDriveCdrom = 5, kDriveRamdisk = 6,
};

constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrCompressed = 0x800;
// Entries a tree copy leaves out: a device or other special file, a link.
constexpr uint32_t kAttrDevice = 0x40;
constexpr uint32_t kAttrReparsePoint = 0x400;

// 10239, 10K, 10239K, 10M, ... 10T: each unit from 10 of it upwards, truncated.
u16 FormatSizeText(uint64_t bytes);

// "2024/03/05 09:07".
u16 FormatDateText(const LocalTimeFields& t);

// Image index 0..9 of a folder entry (tests in the order ".", directory,
// archive, compressed).
int RowImageIndex(uint32_t attributes, u16view name);
// Image index of a drive row (2..6), or -1 for a type that gives no row.
int DriveImageIndex(int driveType);

// True for the entries "." and "..".
bool IsDotEntry(u16view name);

// Whether the size column stays empty: ".", ".." or attributes exactly 0x10.
bool SizeTextIsEmpty(uint32_t attributes, u16view name);

// Byte count of a size text: leading number times the unit of the last
// character (K, M, G, T powers of 1024). Empty text gives 0.
uint64_t SizeTextBytes(u16view text);

}  // namespace quorbel
