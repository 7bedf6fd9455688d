#include "card_file.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "field.h"
#include "file_io.h"

namespace rfsim {

namespace {

using mifare::IMAGE_SIZE_1K;
using mifare::IMAGE_SIZE_4K;

std::string lock_path(const std::string &path) { return path + ".lock"; }
std::string temp_path(const std::string &path) { return path + ".tmp"; }

// Test-only: RFSIM_TEST_STALL_BEFORE_RENAME=<marker> makes a writer create
// <marker> once its temporary file is complete, then stop for good, so a
// test can kill it at the worst moment.
void stall_for_test() {
    const char *marker = std::getenv("RFSIM_TEST_STALL_BEFORE_RENAME");
    if (!marker || !*marker) return;
    std::ofstream(marker).put('\n');
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Caller holds the exclusive lock.
bool replace(const std::string &path, const std::uint8_t *image, std::size_t size, std::string *error) {
    const std::string temp = temp_path(path);
    if (!io::write_temp(temp, path, image, size, error)) return false;
    stall_for_test();
    return io::commit_temp(temp, path, error);
}

std::string size_error(const std::string &path, std::size_t size) {
    return path + " holds " + std::to_string(size) + " bytes; a card file holds 1024 (1K) or 4096 (4K)";
}

}  // namespace

int load_card_file(const std::string &path, mifare::Card *out, std::string *error) {
    std::uint8_t image[IMAGE_SIZE_4K];
    std::size_t size = 0;
    io::ReadResult got;
    {
        io::FileLock lock;
        if (!lock.acquire(lock_path(path), false, error)) return RF_ERR_IO;
        got = io::read_file(path, image, sizeof image, &size, error);
    }
    if (got == io::ReadResult::Missing) {
        io::FileLock lock;
        if (!lock.acquire(lock_path(path), true, error)) return RF_ERR_IO;
        // Another process may have created it while we waited for the lock.
        got = io::read_file(path, image, sizeof image, &size, error);
        if (got == io::ReadResult::Missing) {
            const mifare::Card fresh(mifare::CardType::Classic1K, kFactoryUid);
            fresh.export_image(image, sizeof image);
            size = IMAGE_SIZE_1K;
            if (!replace(path, image, size, error)) return RF_ERR_IO;
            got = io::ReadResult::Ok;
        }
    }
    if (got != io::ReadResult::Ok) return RF_ERR_IO;
    if (size != IMAGE_SIZE_1K && size != IMAGE_SIZE_4K) {
        *error = size_error(path, size);
        return RF_ERR_IO;
    }
    return mifare::Card::from_image(image, size, out) == RF_OK ? RF_OK : RF_ERR_IO;
}

int store_block(const std::string &path, const mifare::Card &card, int block, std::string *error) {
    std::uint8_t mine[IMAGE_SIZE_4K];
    card.export_image(mine, sizeof mine);

    io::FileLock lock;
    if (!lock.acquire(lock_path(path), true, error)) return RF_ERR_IO;
    std::uint8_t image[IMAGE_SIZE_4K];
    std::size_t size = 0;
    const io::ReadResult got = io::read_file(path, image, sizeof image, &size, error);
    if (got == io::ReadResult::Failed) return RF_ERR_IO;
    if (got == io::ReadResult::Missing || size != card.image_size() ||
        std::memcmp(image, mine, mifare::UID_SIZE) != 0) {
        *error = path + " no longer holds this card; write refused";
        return RF_ERR_COMM;
    }
    std::memcpy(image + block * mifare::BLOCK_SIZE, mine + block * mifare::BLOCK_SIZE, mifare::BLOCK_SIZE);
    return replace(path, image, size, error) ? RF_OK : RF_ERR_IO;
}

}  // namespace rfsim
