"""Colour configuration of the edit window group: a predefined combination
and one colour chosen in the colour dialog reach the edit form the next time
it opens, the main window keeps its colours, and the database's settings
file keeps the group."""

import klvdrive as k

OCEAN_BLUE = (0, 255, 255)
EDIT_BACK = (0x10, 0x20, 0x30)


def below(s, form, label_name, button_name):
    """The button under a section label of the colour dialog."""
    lx, ly, lw, _ = s.extents(s.find(form, "label", label_name))
    return s.find(form, "push button", button_name,
                  pred=lambda b: lx <= s.extents(b)[0] < lx + lw and s.extents(b)[1] > ly)


def empty_spot(s, acc):
    """A point near the right end of a label or edit, past its text."""
    x, y, w, h = s.extents(acc)
    return x + w - 4, y + h // 2


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        main = s.main_window()
        coin_viewer = s.find(main, "label", "Coin Viewer")
        main_spot = (s.extents(coin_viewer)[0] - 8, s.extents(coin_viewer)[1] + 4)
        main_before = s.pixel(*main_spot)

        s.menu("Options", "Color", "Edit Window Color")
        form = s.window("Color Configuration")
        s.focus(form)
        s.choose(s.find(form, "combo box", index=1), "Ocean Blue")
        s.click(below(s, form, "Edit Box", "Background"))
        picker = s.window("Select Color")
        s.focus(picker)
        s.set_line_edit(s.find(picker, "text", "HTML:"), "#102030")
        s.click(s.find(picker, "push button", "OK"))
        s.wait_gone("Select Color")
        sample = s.find(form, "text", pred=lambda a: s.text(a) == "Sample Text")
        k.wait_for("the sample edit in the chosen colour",
                   lambda: s.pixel(*empty_spot(s, sample)) == EDIT_BACK)
        s.click(s.find(form, "push button", "Ok"))
        s.wait_gone("Color Configuration")

        k.check_equal(s.pixel(*main_spot), main_before, "main window background")
        s.menu("Records", "Edit")
        edit = s.window("Edit")
        k.wait_for("the edit form in its new colours", lambda: s.pixel(
            *empty_spot(s, s.find(edit, "label", "Country"))) == OCEAN_BLUE)
        description = s.editable_right_of(edit, "Description")
        k.check_equal(s.pixel(*empty_spot(s, description)), EDIT_BACK, "edit box background")
        s.focus(edit)
        s.click(s.find(edit, "push button", "Exit"))
        s.wait_gone("Edit")
        s.quit_app()

        values = k.read_ini(s.db(".INI")).get("Edit Window Color", {})
        k.check_equal(values.get("Main Background"), str(0 + 256 * 255 + 65536 * 255),
                      "stored edit window background")
        k.check_equal(values.get("Edit Background"), str(0x10 + 256 * 0x20 + 65536 * 0x30),
                      "stored edit box background")


k.scenario(main)
