"""Viewer configuration: a field hidden, a field moved to the front, a field
renamed by typing (a duplicate name refused first), and the grid, the edit
form and the database's settings follow."""

import klvdrive as k


def page(s, form, name):
    s.click(s.find(form, "page tab", name))
    return k.wait_for(f"the {name!r} page", lambda: s.find(form, "table", timeout=1))


def cell(table, row, col):
    return table.queryTable().getAccessibleAt(row, col)


def rename(s, table, old, new, row=None):
    """Types a new caption into the names grid, in the row of the given
    caption (or the given row)."""
    row = s.grid_row_of(table, 1, old) if row is None else row
    target = s.scroll_to(table, cell(table, row, 1))
    s.click(target)
    s.type(new)
    s.key("Return")
    k.wait_for(f"{old!r} renamed {new!r}", lambda: cell(table, row, 1).name == new)


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        s.menu("Navigate", "Viewer")
        form = s.window("Viewer Configuration")
        s.focus(form)

        shown = page(s, form, "Fields to Show")
        flag = cell(shown, s.grid_row_of(shown, 0, "Face Value"), 1)
        s.double_click(flag)
        k.wait_for("Face Value switched off", lambda: flag.name == "No")

        order = page(s, form, "Field Order")
        s.click(cell(order, s.grid_row_of(order, 0, "Year"), 0))
        up = s.find(form, "push button", "Up")
        s.click(up)
        s.click(up)
        k.wait_for("Year at the top", lambda: cell(order, 0, 0).name == "Year")
        s.click(up)  # on the first row: nothing changes
        k.wait_for("Country second", lambda: cell(order, 1, 0).name == "Country")

        names = page(s, form, "Field Names")
        rename(s, names, "User Defined 1", "Country")
        s.click(s.find(form, "push button", "Exit"))
        s.answer("Error", "OK", "Two field names have the same name \"Country\".  Please change one.")
        k.check(s.find(form, "table") is not None, "the dialog should stay open")
        names = s.find(form, "table")
        k.check(s.find(names, "table column header", "NAME TO USE", timeout=5) is not None,
                "the \"Field Names\" page should be in front")
        k.check_equal(cell(names, 0, 1).name, "Country", "the first field's caption")
        rename(s, names, "Country", "Grade", row=s.grid_row_of(names, 0, "UserDef1"))
        s.click(s.find(form, "push button", "Exit"))
        s.wait_gone("Viewer Configuration")

        headers = s.grid_headers()
        k.check_equal(headers[:2], ["Year", "Country"], "first columns of the grid")
        k.check("Face Value" not in headers, f"Face Value should be hidden: {headers}")
        k.check("Grade" in headers and "User Defined 1" not in headers,
                f"User Defined 1 should show as Grade: {headers}")

        s.menu("Records", "Add")
        edit = s.window("Edit")
        k.check(s.find(edit, "label", "Grade", timeout=5) is not None, "the edit form's label")
        s.focus(edit)
        s.click(s.find(edit, "push button", "Exit"))
        s.wait_gone("Edit")

        s.quit_app()
        ini = k.read_ini(s.db(".INI"))
        k.check_equal(ini["Field Names"].get("UserDef1"), "Grade", "stored caption")
        k.check_equal(ini["Display Fields"].get("FaceValue"), "No", "stored display flag")
        k.check_equal((ini["Field Order"].get("Year"), ini["Field Order"].get("Country")),
                      ("1", "2"), "stored order")


k.scenario(main)
