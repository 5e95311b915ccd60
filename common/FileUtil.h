// Whole-file input and output, wildcard deletion, the download-folder layout, free space of
// the map folder and the path splitters. Paths are Windows paths in CP932.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Reads folder + name whole into a zeroed heap block of its length + 513 bytes (free() it).
int FileRead(const std::string& folder, const std::string& name, unsigned char** buffer, unsigned long* size);
// FileRead into a block kept across calls (*capacity bytes, sector-aligned for raw volume
// writes: platform::FreeRawBuffer it): it is replaced by a larger one when the file does not
// fit and otherwise reused as it is, not zeroed again.
int FileReadReusing(const std::string& folder, const std::string& name, unsigned char** buffer, size_t* capacity,
                    unsigned long* size);
int FileWrite(const std::string& folder, const std::string& name, const void* data, const unsigned long* size);
int FileDelete(const std::string& pattern);
// The size of the file at `path`, or nullopt when there is none (a folder is no file).
std::optional<uint64_t> FoundFileSize(const std::string& path);
// A name that stays one folder level and names a file, not a device: no separator, drive,
// wildcard, control character or parent step, no trailing dot or space, and no device name
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, with any extension, in any case). Double-byte
// characters are stepped over whole, so "ソ" (whose trail byte is 0x5C) is plain.
bool IsPlainName(const std::string& name);
// True when `folder` is the map folder or a folder inside it, by Windows rules (case ignored,
// a trailing backslash alike, every step below it a plain name).
bool IsInsideMapFolder(std::string folder);
// True (and logged) when a step of `path` below the map folder, the last one included, is a
// junction or symbolic link: whatever is opened, created or deleted through it lands wherever
// it points. The program makes no links there; another user of a shared folder can.
bool LinkBelowMapFolder(const std::string& path);
// LinkBelowMapFolder for a download folder, its five sub-folders and every entry in them.
bool LinkInDownloadFolder(const std::string& folder);
int DownloadFolderCheck(const std::string& name);
int DownloadFolderCreate(const std::string& name);
int GetDiskSpace(double* totalGigabytes, double* freeGigabytes);
// Gigabytes (2^30 bytes) of a cluster count, rounded down to whole blocks of 512 clusters.
double ClustersToGigabytes(uint64_t clusters, uint32_t sectorsPerCluster, uint32_t bytesPerSector);
// The free space of the volume at `path` as "%.1fGB", or "不明" when it cannot be read: a
// report says what it could not read rather than stopping.
std::string GigabytesFree(const std::string& path);

std::string GetDriveLetter(const std::string& path);
std::string GetDirectoryPart(const std::string& path);
std::string GetFileNamePart(const std::string& path);
