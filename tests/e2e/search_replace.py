"""Search and replace with confirmation: each match is offered in record
order with its country, Yes changes it, No leaves it, and afterwards the
table and its sort index are whole. Then a purchase date replaced, typed into
the masked date boxes."""

import subprocess

import klvdrive as k


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        before = k.read_table(s.db())
        ships = [i for i, r in enumerate(before) if r["TOPIC"].upper() == "SHIPS"]
        k.check(len(ships) >= 3, "fixture: ships coins")

        s.menu("Tools", "Search and Replace")
        form = s.window("Search and Replace")
        s.focus(form)
        s.choose(s.editable_right_of(form, "Field ", "combo box"), "Topic")
        s.set_line_edit(s.editable_right_of(form, "Text To Search For", "text"), "ships")
        s.set_line_edit(s.editable_right_of(form, "Replacement Text", "text"), "Sailing Ships")
        confirm = s.find(form, "check box", "Confirm Before Replacing")
        if not s.checked(confirm):
            s.click(confirm)
            k.wait_for("the confirmation ticked", lambda: s.checked(confirm))
        s.click(s.find(form, "push button", "Start Search"))

        # Yes to all but the second match.
        for n, row in enumerate(ships):
            s.answer("Confirm", "No" if n == 1 else "Yes",
                     f"Item = \"{before[row]['COUNTRY']}\".  Change this record?")
        s.answer("Finished", "OK", "Global Search and Replace Complete.")
        s.wait_gone("Search and Replace")

        after = k.read_table(s.db())
        k.check_equal(len(after), len(before), "rows after the run")
        for i, (old, new) in enumerate(zip(before, after)):
            want = dict(old)
            if i in ships and i != ships[1]:
                want["TOPIC"] = "Sailing Ships"
            k.check_equal(new, want, f"row {i + 1}")
        subprocess.run([k.KLVDBF, "check", s.db()], check=True, capture_output=True)
        k.wait_for("the grid to show the new topic",
                   lambda: s.grid_column("Topic").count("Sailing Ships") == len(ships) - 1)

        # A date, typed into the masked boxes after a click, without asking.
        s.menu("Tools", "Search and Replace")
        form = s.window("Search and Replace")
        s.focus(form)
        s.choose(s.editable_right_of(form, "Field ", "combo box"), "Purch Date")
        for label, digits in (("Text To Search For", "12211997"),
                              ("Replacement Text", "01021998")):
            box = s.editable_right_of(form, label, "text")
            s.click(box)
            s.wait_focused(box, label)
            s.type(digits)
            k.wait_for(f"the date typed in {label!r}",
                       lambda: s.text(box) == f"{digits[:2]}/{digits[2:4]}/{digits[4:]}")
        confirm = s.find(form, "check box", "Confirm Before Replacing")
        if s.checked(confirm):
            s.click(confirm)
            k.wait_for("the confirmation cleared", lambda: not s.checked(confirm))
        s.click(s.find(form, "push button", "Start Search"))
        s.answer("Finished", "OK", "Global Search and Replace Complete.")
        s.wait_gone("Search and Replace")
        dates = [r["PURCHDATE"] for r in k.read_table(s.db())]
        k.check_equal(dates, [{"1997-12-21": "1998-01-02"}.get(r["PURCHDATE"], r["PURCHDATE"])
                              for r in after], "purchase dates after the date replace")


k.scenario(main)
