"""Adding a coin in the edit form with typed values: every typed field reaches
the stored row, the totals follow the quantity, a new topic joins the
database's topic list, and the grid and the count show the new coin."""

import os

import klvdrive as k

SEED = [{"COUNTRY": "Spain", "FACEVALUE": "1 Peseta", "YEAR": "1966", "QUANTITY": "1"}]


def main():
    with k.Session(seed_rows=SEED) as s:
        k.check_equal(s.count(), 1, "count before the add")
        s.menu("Records", "Add")
        form = s.window("Edit")
        s.focus(form)

        def edit(label, text):
            control = s.editable_right_of(form, label)
            if control.getRoleName() == "combo box":
                control = s.find(control, "text")
            s.set_line_edit(control, text)

        edit("Country", "Argentina")
        edit("Face Value", "1 Peso")
        edit("Year", "1959")
        edit("Mint Mark", "BA")
        edit("Condition", "Very Fine")
        edit("Topic", "Tide Clocks")
        edit("Description", "Liberty head")
        edit("Comment", "From the estate sale")
        edit("User Defined 1", "Album 3")
        edit("Quantity", "3")
        edit("Purchase Price", "12.5")
        edit("Market Value", "20")
        # The date box last: it is masked, and typed digits fill its blanks.
        date = s.editable_right_of(form, "Purch Date")
        s.click(date)
        s.wait_focused(date, "the date box")
        s.type("05071995")
        k.wait_for("the typed date in its box", lambda: s.text(date) == "05/07/95"
                   or s.text(date) == "05/07/1995", timeout=5)
        # Leaving the price recomputes its total: 3 x 12.50.
        k.wait_for("the purchase total", lambda: s.find_all(form, "label", "37.50 ")
                   or s.find_all(form, "label", "37.50"), timeout=5)

        s.click(s.find(form, "push button", "Update & Exit"))
        s.wait_gone("Edit")
        s.wait_count(2)

        rows = k.read_table(s.db())
        k.check_equal(len(rows), 2, "rows stored")
        row = next(r for r in rows if r["COUNTRY"] == "Argentina")
        expected = {"FACEVALUE": "1 Peso", "YEAR": "1959", "MINTMARK": "BA",
                    "CONDITION": "Very Fine", "TOPIC": "Tide Clocks",
                    "DESCRIPTIO": "Liberty head", "COMMENT": "From the estate sale",
                    "USERDEF1": "Album 3", "QUANTITY": "3", "PURCHASEPR": "12.50",
                    "MARKETVALU": "20.00", "WANTED": "No", "PURCHDATE": "1995-05-07"}
        got = {f: row[f].strip() for f in expected}
        k.check_equal(got, expected, "the stored coin")
        k.check("Argentina" in s.grid_column("Country"), "the grid does not show the coin")

        s.quit_app()
        topics = open(s.db(".002"), encoding="cp1252").read().splitlines()
        k.check("Tide Clocks" in topics, "the new topic is not in the topic list")


k.scenario(main)
