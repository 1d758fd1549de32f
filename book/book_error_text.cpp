#include "book/book_error_text.h"

#include "i18n/string_table.h"

namespace dorvane::book {

namespace {

StringId TextOf(BookError error) {
    switch (error) {
        case BookError::kNone: break;
        case BookError::kCannotOpen: return StringId::RES_BOOK_ERR_CANNOT_OPEN;
        case BookError::kNotABook: return StringId::RES_BOOK_ERR_NOT_A_BOOK;
        case BookError::kNewerBook: return StringId::RES_BOOK_ERR_NEWER;
        case BookError::kDamaged: return StringId::RES_BOOK_ERR_DAMAGED;
        case BookError::kReadOnly: return StringId::RES_BOOK_ERR_READ_ONLY;
        case BookError::kBusy: return StringId::RES_BOOK_ERR_BUSY;
        case BookError::kDiskFull: return StringId::RES_BOOK_ERR_DISK_FULL;
        case BookError::kIo: return StringId::RES_BOOK_ERR_IO;
        case BookError::kNotFound: return StringId::RES_BOOK_ERR_NOT_FOUND;
        case BookError::kDuplicate: return StringId::RES_BOOK_ERR_DUPLICATE;
        case BookError::kInvalid: return StringId::RES_BOOK_ERR_INVALID;
    }
    return StringId::RES_BOOK_ERR_IO;
}

}  // namespace

std::string BookErrorText(BookError error) {
    if (error == BookError::kNone) return {};
    return Text(TextOf(error));
}

std::string BookFailureText(const BookStatus& status) {
    if (status.ok()) return {};
    if (status.message.empty()) return BookErrorText(status.error);
    if (CurrentLanguage() == Language::English) return status.message;
    return FormatText(StringId::RES_BOOK_ERR_DETAIL, BookErrorText(status.error).c_str(), status.message.c_str());
}

}  // namespace dorvane::book
