#pragma once
#include "DriveRecord.h"

namespace snapmend::test {

// A drive row as the enumeration makes it for a disk the engine reads directly.
inline DriveRecord Drive(const char* name, const char* disk, quint64 capacity, const char* fs, const char* type)
{
    DriveRecord drive;
    drive.name = name;
    drive.physicalPath = disk;
    drive.capacity = capacity;
    drive.fileSystem = fs;
    drive.typeText = type;
    drive.engineDevice = disk;
    return drive;
}

}  // namespace snapmend::test
