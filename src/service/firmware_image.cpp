// Firmware image loader: on the module's confirmation 24, the update image on
// the SD card is read into memory and kept for the rest of the process.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kz_platform.h"
#include "service/service.h"

namespace kz {

namespace {

std::vector<uint8_t> firmwareImage;
bool firmwareLoaded = false;

bool PathExists(const char* path) {
    std::string p = path;
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    KzFindData fd{};
    KzHandle find = KzFindFirstFile(p.c_str(), &fd);
    if (find == KZ_INVALID_HANDLE) return false;
    KzFindClose(find);
    return true;
}

long FileSize(FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    return size;
}

void Report(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

void LoadFirmwareImage() {
    if (!PathExists(kFirmwareImagePath)) return;
    FILE* f = KzFopen(kFirmwareImagePath, "rb+");
    if (!f) return;
    long size = FileSize(f);
    if (size <= 0) {
        Report("Can't get dfu file status!\n");
        std::fclose(f);
        return;
    }
    std::vector<uint8_t> image;
    try {
        image.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        return;
    }
    size_t got = std::fread(image.data(), 1, image.size(), f);
    std::fclose(f);
    if (got < image.size()) {
        // A partly read image is no image: the previous one is dropped too,
        // as the load replaced it before reading.
        Report("Read DFU file fail!\n");
        firmwareImage.clear();
        firmwareLoaded = false;
        return;
    }
    firmwareImage.swap(image);
    firmwareLoaded = true;
}

void OnFirmwareCfm(const uint8_t*, size_t) { LoadFirmwareImage(); }

const uint8_t* LoadedFirmwareImage(size_t* size) {
    if (size) *size = firmwareLoaded ? firmwareImage.size() : 0;
    return firmwareLoaded ? firmwareImage.data() : nullptr;
}

void ResetServiceState() {
    std::vector<uint8_t>().swap(firmwareImage);
    firmwareLoaded = false;
}

}  // namespace kz
