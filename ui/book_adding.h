#pragma once
// Files into the book from the desktop: the computer pane's selection, files
// dropped on the Book window, the ledger's files and downloads as they
// arrive. Runs on the book's worker thread (ui/book_service.h): reads each
// file, reporting progress and stopping at the cancel flag, and adds the
// measurements in short transactions, so a cancelled or failed run keeps
// what was added before it and a half-added batch never stays. Qt-free.

#include <filesystem>
#include <string>
#include <vector>

#include "book/job_source.h"
#include "book/store.h"

namespace dorvane {

struct BookAccess;

/// What became of the files handed to AddFilesToBook.
struct BookAddSummary {
    int added = 0;
    struct Already {
        std::filesystem::path file;
        book::JobId job = 0;
        std::string label;  ///< the job's label
    };
    /// Files already in the book, with the job each one is.
    std::vector<Already> already;
    std::vector<book::SourceProblem> notRead;
    bool cancelled = false;
    /// The book could not be opened or refused the change (nothing of that
    /// batch was added).
    book::BookStatus status;
};

/// Measurements added per transaction: a cancel takes effect between them.
inline constexpr std::size_t kAddBatch = 200;

/// Reads `inputs` (files; folders with their sub-folders) and adds them.
BookAddSummary AddFilesToBook(BookAccess& access, const std::vector<std::filesystem::path>& inputs);

/// The files of a download worth adding: a ".bak" written beside the KML or
/// GPX converted from it (which keeps the handheld's name, "N1.txt" holding
/// KML) is left out, as the document is read through those very bytes
/// (book/job_source.h); everything else stays, in order.
std::vector<std::filesystem::path> DownloadSources(const std::vector<std::string>& written);

}  // namespace dorvane
