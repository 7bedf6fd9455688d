#include "field.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "card_file.h"
#include "faults.h"

namespace rfsim {

int Field::configure(const char *card_path, bool no_card, std::string *error) {
    if (card_path && *card_path) {
        mifare::Card loaded(mifare::CardType::Classic1K, kFactoryUid);
        if (load_card_file(card_path, &loaded, error) != RF_OK) return RF_INIT_CARD_FILE;
        card_ = loaded;
        path_ = card_path;
    } else if (!path_.empty()) {
        card_ = mifare::Card(mifare::CardType::Classic1K, kFactoryUid);
        path_.clear();
    } else {
        // Opening the reader switches the field off and on.
        card_.reset();
    }
    no_card_ = no_card;
    return 0;
}

int Field::refresh() noexcept {
    if (path_.empty()) return RF_OK;
    try {
        std::string error;
        mifare::Card loaded(mifare::CardType::Classic1K, kFactoryUid);
        const int st = load_card_file(path_, &loaded, &error);
        if (st != RF_OK) {
            complain(error);
            return st;
        }
        card_ = loaded;
        return RF_OK;
    } catch (...) {
        return RF_ERR_IO;
    }
}

int Field::write_block(int block, const std::uint8_t data[mifare::BLOCK_SIZE]) noexcept {
    mifare::Card after = card_;
    int st = after.write_block(block, data);
    if (st != RF_OK) return st;
    if (!path_.empty()) {
        try {
            std::string error;
            st = store_block(path_, after, block, &error);
            if (st != RF_OK) {
                complain(error);
                return st;
            }
        } catch (...) {
            return RF_ERR_IO;
        }
    }
    card_ = after;
    return RF_OK;
}

Field &field() noexcept {
    static Field instance;
    return instance;
}

void complain(const std::string &message) noexcept {
    std::fprintf(stderr, "rfsim: %s\n", message.c_str());
    std::fflush(stderr);
}

int configure_faults_from_environment() noexcept {
    try {
        std::string error;
        if (faults().configure(std::getenv("RFSIM_FAULT"), &error)) return 0;
        complain(error);
    } catch (...) {
    }
    return RF_INIT_BAD_SETTING;
}

int configure_field_from_environment() noexcept {
    try {
        const char *no_card = std::getenv("RFSIM_NO_CARD");
        bool empty = false;
        if (no_card && *no_card) {
            if (std::strcmp(no_card, "1") == 0) {
                empty = true;
            } else if (std::strcmp(no_card, "0") != 0) {
                complain(std::string("RFSIM_NO_CARD is \"") + no_card + "\"; use 1 for an empty field or 0");
                return RF_INIT_BAD_SETTING;
            }
        }
        std::string error;
        const int st = field().configure(std::getenv("RFSIM_CARD"), empty, &error);
        if (st != 0) complain(error + "; the file is left as it is");
        return st;
    } catch (...) {
        return RF_INIT_CARD_FILE;
    }
}

}  // namespace rfsim
