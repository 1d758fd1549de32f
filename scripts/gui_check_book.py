"""gui-check's season book step: three fields downloaded from the emulator
enter the book as they are stored, found there with `dorvane-cli book list
--json`; Ctrl+B opens the Book window. Imported by scripts/gui-check."""

import json
import os
import shutil
import subprocess
import time

# Three measurements of the emulator's samples: a field, harvesting work and a GPX track.
BOOK_FILES = ["A0601_track.txt", "A0603_harvest.txt", "T0602_few.gpx"]


def book_step(check, ui_wait_for, failed, log, root):
    check.stop_program()  # one copy runs at a time
    book = os.path.join(check.work, "season.gpkg")
    for name in BOOK_FILES:
        shutil.copyfile(os.path.join(root, "sim", "samples", "data", name), os.path.join(check.device, name))
    check.start_program("-Code_Eng", ["--book", book])
    check.click(check.toolbar_button(check.en["RES_CMAINFRAME_MENU_0_0"].replace("&", "").split("\t")[0]))
    ui_wait_for("the book's files in the device list", lambda: all(n in check.names(0) for n in BOOK_FILES))
    tree = check.ui.trees()[0]
    for i, name in enumerate(BOOK_FILES):
        cell = ui_wait_for("the row %s" % name, lambda: check.ui.cell(tree, name))
        x, y = check.ui.centre(cell)
        if i:
            check.screen.xdo("keydown", "ctrl")
        check.screen.click(x, y)
        if i:
            check.screen.xdo("keyup", "ctrl")
    check.click(check.toolbar_button(check.en["RES_CMAINFRAME_MENU_1_0"].replace("&", "").split("\t")[0]))
    ui_wait_for("the three files on the computer",
                lambda: all(os.path.exists(os.path.join(check.home, n)) for n in BOOK_FILES))

    def in_book():
        out = subprocess.run([os.path.join(check.build, "bin/dorvane-cli"), "book", "--book", book, "list", "--json"],
                             capture_output=True, text=True, timeout=15)
        if out.returncode != 0:
            return None
        jobs = json.loads(out.stdout)
        files = sorted(os.path.basename(j["file"]) for j in jobs)
        return files if files == sorted(BOOK_FILES) else None
    files = ui_wait_for("the three downloads in the book", in_book)
    log("ok: the downloads entered the book: %r" % files)

    # The keyboard goes to the window clicked last (there is no window manager here).
    check.click(ui_wait_for("the row %s" % BOOK_FILES[0], lambda: check.ui.cell(check.ui.trees()[1], BOOK_FILES[0])))
    check.screen.key("ctrl+b")
    title = check.en["RES_BOOKWIN_TITLE"]
    ui_wait_for("the Book window %r" % title, lambda: check.ui.find("dialog", title))
    time.sleep(0.5)
    check.screen.shot("book-window")
    log("ok: Ctrl+B opens the Book window")
    check.stop_program()
