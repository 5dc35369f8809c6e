"""First start on an empty program folder: the default database is made and
opened, the tip of the day greets the user once, and switching the tips off
holds at the next start."""

import os
import re

import klvdrive as k

TIPS = [
    "You can rename database fields to your liking.",
    "You can edit data directly on the Main Window Viewer.",
    "You can choose to see only those database fields you desire in the Main Window Viewer.",
    "You can choose the order in which the database fields appear in the Main Window Viewer.",
    "You can select the font for edit boxes allowing for support of foreign language input.",
    "You can do a global search and replace on any database field.",
    "You can select numeric and currency formats for reports to either match your Windows "
    "setup or to be a U.S. format.",
    "You can choose from among several date formats to be used through out the program.",
    "You can sort your data by any database field and go four levels deep.",
    "You can maintain multiple databases and Kolvane will display the last five used in the "
    "menu for easy retrieval.",
    "You can easily import data from ASCII Delimited or DBase compatible files.",
    "You can export data to ASCII Delimited or DBase compatible files and choose which "
    "database fields to export and the order.",
    "When exporting data, you can limit the data to export by first doing a search.",
    "When printing a report, you can limit the data to print by first doing a search.",
    "You can preview reports, print reports to a text file or send them directly to the "
    "printer.",
    "You can design and build as many of your own report layouts as you like.",
    "You can choose to have speed buttons or large lettered buttons on the main window for "
    "quick program functions.",
    "You can choose among popular screen sizes allowing program windows to appear the size "
    "you prefer.",
    "You can choose the font style for text input, labels and buttons allowing for a more "
    "personal appearance.",
    "You can narrow the data that is displayed in the Main Window Viewer to just the result "
    "of a search.",
    "Logical OR searches can be performed: Find all records where the item = xxxx OR where "
    "the item = yyyy.",
    "User defined reports allow for Title Lines, Font Selection, Margin Settings, Page "
    "Numbers, Date On Pages and More.",
    "User defined reports allow for Column Headers, Vertical and Horizontal lines, Grouping "
    "of Data, Totals and More.",
    "A \"Browse Mode\" is available where a user has access to the data, but cannot change it.",
]


def tip_shown(s, tip):
    texts = [lab.name for lab in s.find_all(tip, "label")]
    shown = [t for t in texts if t in TIPS]
    k.check(len(shown) == 1, f"one of the 24 tips should show, labels are {texts}")
    k.check("Did you know?" in texts, f"no \"Did you know?\" heading in {texts}")
    return TIPS.index(shown[0])


def main():
    with k.Session(close_tip=False) as s:
        main = s.main_window()
        k.check_equal(main.name, "Kolvane Coins 97 (MASTER)", "window caption")
        k.check_equal(s.extents(main), (0, 0, 640, 480), "window position and size")
        k.check(os.path.exists(s.db()), "MASTER.DBF is not made in the program folder")
        k.check_equal(k.read_table(s.db()), [], "rows of the new database")
        k.check_equal(s.count(), 0, "record count")
        k.check(s.find(main, "label", "Coin Viewer") is not None, "no \"Coin Viewer\" label")

        tip = s.window("Tip of the Day")
        first = tip_shown(s, tip)
        s.click(s.find(tip, "push button", "Next Tip"))
        k.wait_for("the next tip", lambda: tip_shown(s, tip) == (first + 1) % 24)
        box = s.find(tip, "check box", "Show Tips at Startup")
        k.check(s.checked(box), "\"Show Tips at Startup\" should start ticked")
        s.click(box)
        k.wait_for("the box to clear", lambda: not s.checked(box))
        s.click(s.find(tip, "push button", "Close"))
        s.wait_gone("Tip of the Day")
        s.quit_app()

        ini = open(os.path.join(s.windir, "KLVCOIN.INI"), encoding="cp1252").read()
        k.check(re.search(r"^Show Tips=No\s*$", ini, re.M), f"Show Tips not stored off:\n{ini}")

        # The next start shows no tip: the main window takes commands at once.
        s.close_tip = False
        s.start_app()
        s.menu("Help", "About")
        about = s.window(re.compile("About"))
        k.check("Tip of the Day" not in s.window_names(), "the tip showed although switched off")
        s.click(s.find(about, "push button", "OK"))
        s.quit_app()


k.scenario(main)
