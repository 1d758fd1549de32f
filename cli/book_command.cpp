#include "cli/book_command.h"
#include "cli/map_source_args.h"

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "book/bill_print.h"
#include "book/book_error_text.h"
#include "book/bill_settings.h"
#include "book/job_shapes.h"
#include "book/job_source.h"
#include "book/money.h"
#include "book/open_book.h"
#include "book/send_to_office.h"
#include "cli/book_overlaps.h"
#include "cli/cli_output.h"
#include "i18n/string_table.h"
#include "report/output_file.h"
#ifdef DORVANE_HAVE_PDF
#include "report_pdf/bill_pdf.h"
#endif

namespace dorvane {

namespace {

using cli::Complain;
using cli::kExitFailed;
using cli::kExitOk;
using cli::kExitUsage;
using cli::Say;
using namespace book;
using json = nlohmann::ordered_json;

struct Words {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  ///< "--x" -> value ("" for flags)
    cli::MapSourceArgs map;  ///< --tiles (repeatable), --overlay, --offline
};

// Options that take a value; the rest of "--x" words are flags.
bool TakesValue(const std::string& s) {
    static const char* const kValued[] = {"--customer", "--work", "--price", "--from", "--to", "--status",
                                          "--jobs", "--date", "--csv", "--village", "--phone", "--notes",
                                          "--unit", "--name", "--basis", "--text", "--sort", "--book", "--office",
                                          "--currency", "--seller-name", "--seller-address", "--seller-phone",
                                          "--pdf"};
    for (const char* v : kValued)
        if (s == v) return true;
    return false;
}

std::optional<Words> Split(const std::vector<std::string>& ops, std::size_t from) {
    Words w;
    for (std::size_t i = from; i < ops.size(); ++i) {
        const std::string& s = ops[i];
        if (const cli::MapOption m = cli::TakeMapSourceOption(ops, i, w.map); m != cli::MapOption::kNotOne) {
            if (m == cli::MapOption::kMissingValue) return std::nullopt;
            if (m == cli::MapOption::kBadValue) {
                Complain(FormatText(StringId::RES_CLI_BAD_VALUE, s.c_str(), ops[i].c_str(), cli::MapOptionValues(s)));
                return std::nullopt;
            }
            w.options[s] = "";  // given: checked against the command's options like the rest
        } else if (s.size() > 1 && s[0] == '-' && !(s[1] >= '0' && s[1] <= '9')) {
            if (TakesValue(s) || s.rfind("--price-", 0) == 0) {
                if (i + 1 >= ops.size()) return std::nullopt;
                w.options[s] = ops[++i];
            } else {
                w.options[s] = "";
            }
        } else {
            w.positional.push_back(s);
        }
    }
    return w;
}

int Usage() {
    Complain(Text(StringId::RES_BOOK_USAGE));
    return kExitUsage;
}

int Failed(const BookStatus& st) {
    Complain(book::BookFailureText(st));
    return kExitFailed;
}

int BadValue(const std::string& option, const std::string& value) {
    Complain(FormatText(StringId::RES_BOOK_BAD_VALUE, option.c_str(), value.c_str()));
    return kExitUsage;
}

std::optional<std::string> Opt(const Words& w, const char* name) {
    auto it = w.options.find(name);
    if (it == w.options.end()) return std::nullopt;
    return it->second;
}

// Reads the job's own terms from the options; false after complaining.
bool ReadTerms(const Words& w, JobTerms& t) {
    t.customer = Opt(w, "--customer");
    t.village = Opt(w, "--village");
    t.notes = Opt(w, "--notes");
    if (auto v = Opt(w, "--work")) {
        t.work = ParseWorkType(*v);
        if (!t.work) return BadValue("--work", *v), false;
    }
    if (auto v = Opt(w, "--price")) {
        t.priceFen = ParseMoney(*v);
        if (!t.priceFen) return BadValue("--price", *v), false;
    }
    if (auto v = Opt(w, "--unit")) {
        t.unit = ParseBillingUnit(*v);
        if (!t.unit) return BadValue("--unit", *v), false;
    }
    return true;
}

bool ReadDates(const Words& w, std::optional<std::string>& from, std::optional<std::string>& to) {
    from = Opt(w, "--from");
    to = Opt(w, "--to");
    if (from && !IsDate(*from)) return BadValue("--from", *from), false;
    if (to && !IsDate(*to)) return BadValue("--to", *to), false;
    return true;
}

std::optional<std::vector<JobId>> ParseIds(const std::vector<std::string>& words) {
    std::vector<JobId> ids;
    for (const std::string& word : words) {
        std::stringstream ss(word);
        std::string part;
        while (std::getline(ss, part, ',')) {
            if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 15)
                return std::nullopt;
            ids.push_back(std::stoll(part));
        }
    }
    return ids;
}

std::string Csv(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

int CmdAdd(BookStore& b, const Words& w) {
    JobTerms terms;
    if (!ReadTerms(w, terms) || w.positional.empty()) return w.positional.empty() ? Usage() : kExitUsage;
    // The book outlives the shell's folder: a job names its file by an
    // absolute path (symbolic links kept as given).
    std::vector<std::filesystem::path> inputs;
    for (const std::string& p : w.positional) {
        std::error_code ec;
        const std::filesystem::path abs = std::filesystem::absolute(p, ec);
        inputs.push_back(ec ? std::filesystem::path(p) : abs.lexically_normal());
    }
    std::vector<SourceProblem> problems;
    const auto files = CollectSources(inputs, w.options.count("-r") || w.options.count("--recursive"), problems);
    std::vector<Measurement> ms;
    for (const auto& f : files) {
        // A file of many shapes is a job per shape; a feature that cannot be
        // read is named by its number and the rest are added.
        std::vector<geo::FeatureProblem> bad;
        const geo::ReadResult r = ReadJobs(f, ms, bad);
        if (!r.ok())
            problems.push_back({f, r.message.empty() ? std::string(geo::ReadErrorText(r.error)) : r.message});
        for (const geo::FeatureProblem& p : bad)
            problems.push_back({f.string() + " #" + std::to_string(p.feature), p.message});
    }
    for (const auto& p : problems)
        Complain(FormatText(StringId::RES_BOOK_NOT_READ, p.path.string().c_str(), p.message.c_str()));
    std::vector<AddOutcome> outcomes;
    if (!ms.empty())
        if (auto st = b.AddJobs(ms, terms, outcomes); !st.ok()) return Failed(st);
    int added = 0, already = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const auto& o = outcomes[i];
        if (o.added) {
            ++added;
            Say(FormatText(StringId::RES_BOOK_ADDED, ms[i].file.c_str(), static_cast<int>(o.id)));
        } else {
            ++already;
            Say(FormatText(StringId::RES_BOOK_ALREADY, ms[i].file.c_str(), static_cast<int>(o.id),
                           o.existingLabel.c_str()));
        }
    }
    Say(FormatText(StringId::RES_BOOK_ADD_SUMMARY, added, already, static_cast<int>(problems.size())));
    return problems.empty() ? kExitOk : kExitFailed;
}

json JobJson(const Job& j, AreaBasis basis) {
    AreaBasis used = basis;
    BillingUnit areaUnit = BillingUnit::kMu;
    Job asArea = j;
    asArea.unit = areaUnit;
    const double area = BilledFigure(asArea, basis, used);
    json o;
    o["id"] = j.id;
    o["label"] = j.label;
    o["file"] = j.file;
    o["customer"] = j.customer.empty() ? json(nullptr) : json(j.customer);
    o["village"] = j.village;
    o["work"] = std::string(Name(j.work));
    o["status"] = std::string(Name(j.status));
    o["bill"] = j.bill ? json(*j.bill) : json(nullptr);
    o["date"] = j.date;
    o["area_basis"] = std::string(Name(used));
    o["area_m2"] = area;
    o["area_mu"] = static_cast<double>(QuantityE4(area, BillingUnit::kMu).value_or(0)) / kQuantityScale;
    o["wgs84_area_m2"] = j.wgs84Area_m2;
    o["handheld_area_m2"] = j.handheldArea_m2 ? json(*j.handheldArea_m2) : json(nullptr);
    o["length_m"] = j.wgs84Length_m;
    o["unit"] = std::string(Name(j.unit));
    o["price_fen"] = j.priceFen ? json(*j.priceFen) : json(nullptr);
    std::optional<Fen> amount;
    if (j.priceFen) {
        AreaBasis u2;
        if (auto q = QuantityE4(BilledFigure(j, basis, u2), j.unit)) amount = AmountFen(*q, *j.priceFen);
    }
    o["amount_fen"] = amount ? json(*amount) : json(nullptr);
    return o;
}

// The job filters `list` and `overlaps` take; an exit status when one is bad.
std::optional<int> ReadFilter(const Words& w, JobFilter& f) {
    if (auto c = Opt(w, "--customer")) f.customer = *c;
    if (auto s = Opt(w, "--status")) {
        f.status = ParseJobStatus(*s);
        if (!f.status) return BadValue("--status", *s);
    }
    if (auto s = Opt(w, "--work")) {
        f.work = ParseWorkType(*s);
        if (!f.work) return BadValue("--work", *s);
    }
    if (!ReadDates(w, f.from, f.to)) return kExitUsage;
    f.text = Opt(w, "--text");
    return std::nullopt;
}

int CmdList(BookStore& b, const Words& w) {
    JobFilter f;
    if (auto bad = ReadFilter(w, f)) return *bad;
    if (auto s = Opt(w, "--sort")) {
        static const std::map<std::string, JobFilter::Sort> kSorts = {{"id", JobFilter::Sort::kId},
                                                                       {"date", JobFilter::Sort::kDate},
                                                                       {"customer", JobFilter::Sort::kCustomer},
                                                                       {"area", JobFilter::Sort::kArea}};
        auto it = kSorts.find(*s);
        if (it == kSorts.end()) return BadValue("--sort", *s);
        f.sort = it->second;
    }
    f.descending = w.options.count("--descending") != 0;
    AreaBasis basis = AreaBasis::kWgs84;
    if (auto st = b.GetAreaBasis(basis); !st.ok()) return Failed(st);
    std::vector<Job> jobs;
    if (auto st = b.ListJobs(f, jobs); !st.ok()) return Failed(st);
    json arr = json::array();
    for (const Job& j : jobs) arr.push_back(JobJson(j, basis));
    if (w.options.count("--json")) {
        Say(arr.dump(2, ' ', false, json::error_handler_t::replace));
        return kExitOk;
    }
    const bool csv = w.options.count("--csv") != 0;
    const char* keys[] = {"id", "date", "label", "customer", "village", "work", "status", "bill", "area_mu",
                          "length_m", "price_fen", "amount_fen", "file"};
    std::string line;
    for (const char* k : keys) line += (line.empty() ? "" : csv ? "," : "\t") + std::string(k);
    Say(line);
    for (const json& o : arr) {
        line.clear();
        bool first = true;
        for (const char* k : keys) {
            const json& v = o[k];
            std::string s = v.is_null() ? "" : v.is_string() ? v.get<std::string>() : v.dump();
            if (std::string(k) == "price_fen" || std::string(k) == "amount_fen")
                s = v.is_null() ? "" : FormatMoney(v.get<Fen>());
            line += (first ? "" : csv ? "," : "\t") + (csv ? Csv(s) : s);
            first = false;
        }
        Say(line);
    }
    return kExitOk;
}

int CmdCustomer(BookStore& b, const Words& w) {
    if (w.positional.empty()) return Usage();
    const std::string& sub = w.positional[0];
    if (sub == "list") {
        std::vector<Customer> cs;
        if (auto st = b.ListCustomers(cs); !st.ok()) return Failed(st);
        json arr = json::array();
        for (const Customer& c : cs) {
            json o{{"name", c.name}, {"village", c.village}, {"phone", c.phone}, {"notes", c.notes}};
            json prices = json::object();
            for (int k = 0; k < kWorkTypeCount; ++k)
                if (c.defaultPriceFen[k]) prices[std::string(Name(static_cast<WorkType>(k)))] = *c.defaultPriceFen[k];
            o["price_fen"] = prices;
            arr.push_back(o);
        }
        if (w.options.count("--json")) {
            Say(arr.dump(2, ' ', false, json::error_handler_t::replace));
        } else {
            for (const Customer& c : cs) Say(c.name + "\t" + c.village + "\t" + c.phone);
        }
        return kExitOk;
    }
    if ((sub != "add" && sub != "set") || w.positional.size() != 2) return Usage();
    CustomerChange ch;
    ch.village = Opt(w, "--village");
    ch.phone = Opt(w, "--phone");
    ch.notes = Opt(w, "--notes");
    ch.name = Opt(w, "--name");
    for (const auto& [opt, value] : w.options) {
        if (opt.rfind("--price-", 0) != 0) continue;
        const auto work = ParseWorkType(opt.substr(8));
        if (!work) return BadValue(opt, value);
        if (value.empty()) {
            ch.prices.emplace_back(*work, std::nullopt);
            continue;
        }
        const auto fen = ParseMoney(value);
        if (!fen) return BadValue(opt, value);
        ch.prices.emplace_back(*work, fen);
    }
    const std::string& name = w.positional[1];
    if (sub == "add") {
        Customer c;
        c.name = name;
        c.village = ch.village.value_or("");
        c.phone = ch.phone.value_or("");
        c.notes = ch.notes.value_or("");
        for (const auto& [work, price] : ch.prices) c.defaultPriceFen[static_cast<int>(work)] = price;
        CustomerId id = 0;
        if (auto st = b.AddCustomer(c, id); !st.ok()) return Failed(st);
        Say(FormatText(StringId::RES_BOOK_CUSTOMER_ADDED, name.c_str()));
        return kExitOk;
    }
    if (auto st = b.ChangeCustomer(name, ch); !st.ok()) return Failed(st);
    Say(FormatText(StringId::RES_BOOK_CUSTOMER_CHANGED, ch.name.value_or(name).c_str()));
    return kExitOk;
}

int CmdAssign(BookStore& b, const Words& w) {
    JobTerms terms;
    if (!ReadTerms(w, terms)) return kExitUsage;
    const auto ids = ParseIds(w.positional);
    if (!ids || ids->empty()) return Usage();
    if (auto st = b.AssignJobs(*ids, terms); !st.ok()) return Failed(st);
    Say(FormatText(StringId::RES_BOOK_ASSIGNED, static_cast<int>(ids->size())));
    return kExitOk;
}

// The outputs a bill is written to (--pdf, --csv), checked before anything
// is issued: an existing file is never replaced without --force.
struct BillOutputs {
    std::optional<std::string> pdf, csv;
    bool force = false;
    bool pictures = false;
    cli::MapSourceArgs map;
};

// False after complaining.
bool ReadOutputs(const Words& w, BillOutputs& o) {
    o.pdf = Opt(w, "--pdf");
    o.csv = Opt(w, "--csv");
    o.force = w.options.count("--force") != 0;
    o.pictures = w.options.count("--pictures") != 0;
    o.map = w.map;
    if (o.map.tiles.empty()) o.map.tiles = "none";  // the grid alone unless told
#ifndef DORVANE_HAVE_PDF
    if (o.pdf) {
        Complain(Text(StringId::RES_LEDGER_NO_PDF));
        return false;
    }
#endif
    for (const auto* out : {&o.pdf, &o.csv})
        if (*out && !o.force && report::OutputExists(**out)) {
            Complain(FormatText(StringId::RES_LEDGER_EXISTS, (*out)->c_str()));
            return false;
        }
    return true;
}

bool Written(const report::OutputOutcome& o, const std::string& out) {
    if (o.ok()) return true;
    if (o.error == report::OutputError::kExists)
        Complain(FormatText(StringId::RES_LEDGER_EXISTS, out.c_str()));
    else
        Complain(FormatText(StringId::RES_LEDGER_WRITE_FAILED, out.c_str(), o.message.c_str()));
    return false;
}

// Writes bill `number` to the outputs asked for.
int WriteBill(BookStore& b, const std::string& number, const BillOutputs& o) {
    if (!o.pdf && !o.csv) return kExitOk;
    BillSettings seller;
    if (auto st = LoadBillSettings(DefaultBillSettingsPath(), seller); !st.ok()) return Failed(st);
    BillPrint print;
    if (auto st = LoadBillPrint(b, number, seller, print); !st.ok()) return Failed(st);
    bool ok = true;
    if (o.csv) ok &= Written(report::WriteOutputFile(*o.csv, BillCsv(print), o.force), *o.csv);
#ifdef DORVANE_HAVE_PDF
    if (o.pdf) {
        // The boundaries always: the first page's map shows the fields.
        std::vector<BillPicture> pictures;
        if (auto st = LoadBillPictures(b, print, pictures); !st.ok()) return Failed(st);
        report::BillPdfOptions options;
        options.tiles = o.map.tiles;
        options.stackedTiles = o.map.stackedTiles;
        options.overlay = o.map.overlay;
        options.offline = o.map.offline;
        options.picturePages = o.pictures;
        ok &= Written(report::WriteBillPdf(print, pictures, *o.pdf, o.force, options), *o.pdf);
    }
#endif
    return ok ? kExitOk : kExitFailed;
}

int CmdBill(BookStore& b, const Words& w) {
    if (w.positional.size() != 1) return Usage();
    BillRequest r;
    r.customer = w.positional[0];
    if (!ReadDates(w, r.from, r.to)) return kExitUsage;
    r.date = Opt(w, "--date").value_or(Today());
    if (!IsDate(r.date)) return BadValue("--date", r.date);
    if (auto j = Opt(w, "--jobs")) {
        const auto ids = ParseIds({*j});
        if (!ids || ids->empty()) return BadValue("--jobs", *j);
        r.jobs = *ids;
    }
    if (auto s = Opt(w, "--basis")) {
        r.basis = ParseAreaBasis(*s);
        if (!r.basis) return BadValue("--basis", *s);
    }
    BillOutputs outputs;
    if (!ReadOutputs(w, outputs)) return kExitFailed;
    // A field measured twice is billed twice only when the user keeps both.
    if (!w.options.count("--keep-both"))
        if (auto refused = RefuseMeasuredTwice(b, r)) return *refused;
    Bill bill;
    if (auto st = b.IssueBill(r, bill); !st.ok()) return Failed(st);
    Say(bill.number);
    return WriteBill(b, bill.number, outputs);
}

// The PDF (or CSV) of a bill issued earlier; a void one says VOID.
int CmdPdf(BookStore& b, const Words& w) {
    if (w.positional.size() != 1) return Usage();
    BillOutputs outputs;
    if (!ReadOutputs(w, outputs)) return kExitFailed;
    if (!outputs.pdf && !outputs.csv) return Usage();
    Bill probe;
    if (auto st = b.GetBill(w.positional[0], probe); !st.ok()) return Failed(st);
    const int status = WriteBill(b, probe.number, outputs);
    if (status == kExitOk)
        for (const auto& out : {outputs.pdf, outputs.csv})
            if (out) Say(FormatText(StringId::RES_LEDGER_WROTE, out->c_str()));
    return status;
}

int CmdPay(BookStore& b, const Words& w) {
    if (w.positional.size() != 2) return Usage();
    PaymentRequest r;
    const auto amount = ParseMoney(w.positional[1]);
    if (!amount) return BadValue("AMOUNT", w.positional[1]);
    r.amountFen = *amount;
    r.date = Opt(w, "--date").value_or(Today());
    r.notes = Opt(w, "--notes").value_or("");
    Bill probe;
    if (ParseBillNumber(w.positional[0]) && b.GetBill(w.positional[0], probe).ok())
        r.bill = w.positional[0];
    else
        r.customer = w.positional[0];
    Payment p;
    if (auto st = b.Pay(r, p); !st.ok()) return Failed(st);
    for (const PaymentApplied& a : p.applied) {
        Bill after;
        if (auto st = b.GetBill(a.bill, after); !st.ok()) return Failed(st);
        Say(FormatText(StringId::RES_BOOK_PAID, FormatMoney(a.amountFen).c_str(), a.bill.c_str(),
                       FormatMoney(after.OutstandingFen()).c_str()));
    }
    return kExitOk;
}

json FiguresJson(const Figures& f) {
    return json{{"jobs", f.jobs},
                {"area_mu", static_cast<double>(f.areaMuE4) / kQuantityScale},
                {"billed_fen", f.billedFen},
                {"paid_fen", f.paidFen},
                {"outstanding_fen", f.OutstandingFen()}};
}

int CmdSeason(BookStore& b, const Words& w) {
    DateRange range;
    if (!ReadDates(w, range.from, range.to)) return kExitUsage;
    SeasonFigures s;
    if (auto st = b.Season(range, s); !st.ok()) return Failed(st);
    if (w.options.count("--json")) {
        json o = FiguresJson(s.overall);
        o["customers"] = json::array();
        for (const auto& [name, f] : s.customers) {
            json c{{"name", name}};
            c.update(FiguresJson(f));
            o["customers"].push_back(c);
        }
        Say(o.dump(2, ' ', false, json::error_handler_t::replace));
        return kExitOk;
    }
    Say("customer\tjobs\tmu\tbilled\tpaid\toutstanding");
    auto row = [](const std::string& n, const Figures& f) {
        Say(n + "\t" + std::to_string(f.jobs) + "\t" + FormatQuantity(f.areaMuE4) + "\t" + FormatMoney(f.billedFen) +
            "\t" + FormatMoney(f.paidFen) + "\t" + FormatMoney(f.OutstandingFen()));
    };
    for (const auto& [name, f] : s.customers) row(name.empty() ? "-" : name, f);
    row("*", s.overall);
    return kExitOk;
}

// Shows the bill settings, after setting those given.
int CmdSettings(BookStore& b, const Words& w) {
    if (!w.positional.empty()) return Usage();
    const std::filesystem::path path = DefaultBillSettingsPath();
    BillSettings s;
    if (auto st = LoadBillSettings(path, s); !st.ok()) return Failed(st);
    const std::pair<const char*, std::string*> fields[] = {{"--currency", &s.currency},
                                                           {"--seller-name", &s.sellerName},
                                                           {"--seller-address", &s.sellerAddress},
                                                           {"--seller-phone", &s.sellerPhone}};
    bool changed = false;
    for (const auto& [option, field] : fields) {
        const auto v = Opt(w, option);
        if (!v) continue;
        if (!BillSettingProblem(*v).empty()) return BadValue(option, *v);
        *field = *v;
        changed = true;
    }
    std::optional<AreaBasis> basis;
    if (auto v = Opt(w, "--basis")) {
        basis = ParseAreaBasis(*v);
        if (!basis) return BadValue("--basis", *v);
    }
    if (changed)
        if (auto st = SaveBillSettings(path, s); !st.ok()) return Failed(st);
    if (basis)
        if (auto st = b.SetAreaBasis(*basis); !st.ok()) return Failed(st);
    AreaBasis now = AreaBasis::kWgs84;
    if (auto st = b.GetAreaBasis(now); !st.ok()) return Failed(st);
    // key=value, the keys as the settings file has them, for scripts.
    Say("currency=" + s.currency);
    Say("seller-name=" + s.sellerName);
    Say("seller-address=" + s.sellerAddress);
    Say("seller-phone=" + s.sellerPhone);
    Say("basis=" + std::string(Name(now)));
    return kExitOk;
}

// The laptop's book (--book) to the office book (--office): jobs by
// identity, customers and prices back (send_to_office.h states the rules).
int CmdSendToOffice(BookStore& laptop, const Words& w) {
    const auto uri = Opt(w, "--office");
    if (!uri || !w.positional.empty()) return Usage();
    std::unique_ptr<BookStore> office;
    if (auto st = OpenBook(*uri, {}, office); !st.ok()) return Failed(st);
    SendReport report;
    if (auto st = SendToOffice(laptop, *office, report); !st.ok()) return Failed(st);
    for (const std::string& p : report.problems) Complain(FormatText(StringId::RES_BOOK_NOT_SENT, p.c_str()));
    Say(FormatText(StringId::RES_BOOK_SENT, report.sent, report.known, report.skipped, report.customersSent,
                   report.customersTaken));
    return report.problems.empty() ? kExitOk : kExitFailed;
}

}  // namespace

int RunBookCommand(const std::vector<std::string>& ops) {
    std::string location;
    std::size_t i = 0;
    if (i < ops.size() && ops[i] == "--book") {
        if (i + 1 >= ops.size()) return Usage();
        location = ops[i + 1];
        i += 2;
    }
    if (i >= ops.size()) return Usage();
    const std::string sub = ops[i];
    auto words = Split(ops, i + 1);
    if (!words) return Usage();
    if (auto b2 = Opt(*words, "--book")) location = *b2;
    std::unique_ptr<BookStore> book;
    if (auto st = OpenBook(location, {}, book); !st.ok()) return Failed(st);
    if (sub == "add") return CmdAdd(*book, *words);
    if (sub == "list") return CmdList(*book, *words);
    if (sub == "customer") return CmdCustomer(*book, *words);
    if (sub == "assign") return CmdAssign(*book, *words);
    if (sub == "bill") return CmdBill(*book, *words);
    if (sub == "pdf") return CmdPdf(*book, *words);
    if (sub == "overlaps") {
        JobFilter f;
        if (auto bad = ReadFilter(*words, f)) return *bad;
        if (!words->positional.empty()) return Usage();
        return RunBookOverlaps(*book, f, words->options.count("--json") != 0);
    }
    if (sub == "void") {
        if (words->positional.size() != 1) return Usage();
        if (auto st = book->VoidBill(words->positional[0], Opt(*words, "--date").value_or(Today())); !st.ok())
            return Failed(st);
        Say(FormatText(StringId::RES_BOOK_VOIDED, words->positional[0].c_str()));
        return kExitOk;
    }
    if (sub == "void-job") {
        const auto ids = ParseIds(words->positional);
        if (!ids || ids->empty()) return Usage();
        if (auto st = book->VoidJobs(*ids); !st.ok()) return Failed(st);
        Say(FormatText(StringId::RES_BOOK_JOBS_VOIDED, static_cast<int>(ids->size())));
        return kExitOk;
    }
    if (sub == "backup") {
        if (words->positional.size() != 1) return Usage();
        if (auto st = book->Backup(words->positional[0]); !st.ok()) return Failed(st);
        Say(FormatText(StringId::RES_BOOK_BACKED_UP, words->positional[0].c_str()));
        return kExitOk;
    }
    if (sub == "send-to-office") return CmdSendToOffice(*book, *words);
    if (sub == "pay") return CmdPay(*book, *words);
    if (sub == "season") return CmdSeason(*book, *words);
    if (sub == "settings") return CmdSettings(*book, *words);
    return Usage();
}

}  // namespace dorvane
