// Row rules shared by both panes and the directory records: size text,
// date text and row image.
#pragma once

#include "core/base/path_rules.h"
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

// The image of a row in the panes' image list, which a listing record
// carries as the row's kind.
enum RowImage : int {
    kImageNone = -1,  // a drive type that gives no row
    kImageDot = 0, kImageFolder = 1,  // "." and "..", a folder
    kImageFixed = 2, kImageCdrom = 3, kImageRemovable = 4, kImageRemote = 5, kImageRamdisk = 6,  // drives
    kImageCompressed = 7, kImageArchive = 8, kImageFile = 9,
};

// The image of a folder entry (tests in the order ".", directory, archive,
// compressed).
RowImage RowImageIndex(uint32_t attributes, u16view name);
// The image of a drive row, kImageNone for a type that gives no row.
RowImage DriveImageIndex(int driveType);
// True for the images of drive rows.
bool IsDriveImage(int32_t image);

// Whether the size column stays empty: ".", ".." or attributes exactly 0x10.
bool SizeTextIsEmpty(uint32_t attributes, u16view name);

// Byte count of a size text: leading number times the unit of the last
// character (K, M, G, T powers of 1024). Empty text gives 0.
uint64_t SizeTextBytes(u16view text);

}  // namespace quorbel
