"""Editing in the viewer grid with "Allow field editing" on: a typed year
saved by Tab, a condition typed over the old one and saved by Enter, and
Delete afterwards removes the coin that was edited, not another."""

import klvdrive as k

SEED = [
    {"COUNTRY": "Spain", "YEAR": "1966", "CONDITION": "Good"},
    {"COUNTRY": "Argentina", "YEAR": "1950", "CONDITION": "Good"},
    {"COUNTRY": "Italy", "YEAR": "1970", "CONDITION": "Good"},
]


def main():
    with k.Session(seed_rows=SEED) as s:
        s.menu("Navigate", "Viewer")
        form = s.window("Viewer Configuration")
        s.focus(form)
        s.click(s.find(form, "page tab", "Look and Feel"))
        editing = s.find(form, "check box", "Allow field editing")
        if not s.checked(editing):
            s.click(editing)
            k.wait_for("field editing on", lambda: s.checked(editing))
        s.click(s.find(form, "push button", "Exit"))
        s.wait_gone("Viewer Configuration")

        main = s.main_window()
        s.focus(main)
        row = s.grid_column("Country").index("Argentina")
        k.check(row > 0, "fixture: Argentina below the first row")
        s.click(s.grid_cell(row, "Year"))
        s.type("1959")
        s.key("Tab")
        s.type("Polished")
        s.key("Return")
        k.wait_for("the grid to show the edits",
                   lambda: (s.grid_cell(row, "Year").name, s.grid_cell(row, "Condition").name)
                   == ("1959", "Polished"))
        argentina = next(r for r in k.read_table(s.db()) if r["COUNTRY"] == "Argentina")
        k.check_equal((argentina["YEAR"], argentina["CONDITION"]), ("1959", "Polished"),
                      "the stored edits")

        s.menu("Records", "Delete")
        s.answer("Confirm", "Yes", "Delete this record?")
        s.wait_count(2)
        k.check_equal(sorted(r["COUNTRY"] for r in k.read_table(s.db())), ["Italy", "Spain"],
                      "coins left after deleting the edited one")


k.scenario(main)
