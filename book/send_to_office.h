#pragma once
// "Send to office": a laptop's own book (a GeoPackage kept in the field)
// hands its measurements to the office book when that is reachable, and
// takes the office's customers and prices back.
//
// The rules, as the help states them:
//   - Jobs go by their identity, never twice: a measurement the office book
//     knows already (sent before, or sent by another laptop) is left alone.
//     A sent job takes its customer, village, work type, price, unit and
//     notes along; void jobs are not sent (they are no work to be paid).
//   - A customer the office lacks is added there as the laptop has it. A
//     customer both books have is the office's: the office's village, phone,
//     notes and prices replace the laptop's (the laptop's changes to it are
//     not sent); customers the laptop lacks are added to it.
//   - Bills and payments are made in the office book only; nothing of them
//     is sent or taken back.
// Blocks on the disk and the network; every change is the stores' own
// transactions (a failure half-way leaves what was sent, sent: sending again
// takes the rest, by identity).

#include <string>
#include <vector>

#include "book/store.h"

namespace dorvane::book {

struct SendReport {
    int sent = 0;        ///< jobs new to the office book
    int known = 0;       ///< jobs the office book had already
    int skipped = 0;     ///< void jobs, not sent
    int customersSent = 0;      ///< added to the office book
    int customersTaken = 0;     ///< added to or changed in the laptop's book
    std::vector<std::string> problems;  ///< jobs that could not be read back (English)
};

BookStatus SendToOffice(BookStore& laptop, BookStore& office, SendReport& report);

}  // namespace dorvane::book
