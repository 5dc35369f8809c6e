"""Locate and Locate Next: the grid's current coin moves to each match of a
partial value in turn, and past the last one the program says so and stays."""

import klvdrive as k


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        countries = s.grid_column("Country")
        mexico = [i for i, c in enumerate(countries) if c.upper().startswith("MEX")]
        k.check(len(mexico) >= 3 and mexico[0] > 0, f"fixture: Mexico rows at {mexico}")
        k.check_equal(s.current_row(), 0, "current row at start")

        s.menu("Navigate", "Locate")
        form = s.window("Locate Field Value")
        s.focus(form)
        s.choose(s.find(form, "combo box", "Field To Search On"), "Country")
        k.check(s.checked(s.find(form, "radio button", "Partial Match at Beginning")),
                "\"Partial Match at Beginning\" should be the default")
        value = s.find(form, "text", "Search Value")
        s.set_line_edit(value, "mex")
        s.key("Return")  # Next is the default button
        s.wait_gone("Locate Field Value")
        k.wait_for("the first Mexican coin", lambda: s.current_row() == mexico[0])

        main = s.main_window()
        for row in mexico[1:]:
            s.focus(main)
            s.key("ctrl+n")
            k.wait_for(f"Locate Next to reach row {row}", lambda: s.current_row() == row)
        s.menu("Navigate", "Locate Next")
        s.message("No more matches found")
        k.check_equal(s.current_row(), mexico[-1], "current row after the last match")

        # Fi&rst starts again at the top; the dialog remembers field and value.
        s.menu("Navigate", "Locate")
        form = s.window("Locate Field Value")
        s.focus(form)
        k.check_equal(s.text(s.find(form, "text", "Search Value")), "mex", "remembered value")
        s.click(s.find(form, "push button", "First"))
        s.wait_gone("Locate Field Value")
        k.wait_for("the first Mexican coin again", lambda: s.current_row() == mexico[0])


k.scenario(main)
