"""Pick-list editing: a topic added and another deleted in the list editor,
the condition list sorted after its question; the database's list files and
the edit form's drop-down lists follow, and the Miscellaneous picker fills
the field with the phrases ticked."""

import klvdrive as k


def items(s, acc):
    return [c.name for c in acc if c is not None and c.getRoleName() == "list item"]


def lines(path):
    with open(path, encoding="cp1252") as f:
        return [l.strip() for l in f if l.strip()]


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        s.menu("Options", "List Maintenance", "Topic")
        form = s.window("Edit \"Topic\" List")
        s.focus(form)
        box = s.find(form, "list")
        first = items(s, box)
        k.check("Ancient" in first and "Tide Clocks" not in first, "fixture: default topics")
        s.set_line_edit(s.find(form, "text"), "Tide Clocks")
        s.click(s.find(form, "push button", "Add"))
        k.wait_for("the new topic at the end", lambda: items(s, box)[-1] == "Tide Clocks")
        s.click(s.find(box, "list item", "Ancient"))
        s.click(s.find(form, "push button", "Delete"))
        k.wait_for("Ancient deleted", lambda: "Ancient" not in items(s, box))
        s.click(s.find(form, "push button", "Ok"))
        s.wait_gone("Edit \"Topic\" List")
        want = [t for t in first if t != "Ancient"] + ["Tide Clocks"]
        k.check_equal(lines(s.db(".002")), want, "the database's topic list file")

        s.menu("Options", "List Maintenance", "Condition")
        form = s.window("Edit \"Condition\" List")
        s.focus(form)
        box = s.find(form, "list")
        conditions = items(s, box)
        k.check(conditions != sorted(conditions), "fixture: conditions in grading order")
        s.click(s.find(form, "push button", "Sort"))
        s.answer("Confirm", "Yes",
                 "Are you sure you want to sort the data?  Sorting cannot be undone.")
        k.wait_for("the sorted list", lambda: items(s, box) == sorted(conditions))
        s.click(s.find(form, "push button", "Ok"))
        s.wait_gone("Edit \"Condition\" List")
        k.check_equal(lines(s.db(".003")), sorted(conditions),
                      "the database's condition list file")

        s.menu("Records", "Add")
        edit = s.window("Edit")
        s.focus(edit)
        topic = s.editable_right_of(edit, "Topic", "combo box")
        k.check_equal(items(s, next(c for c in topic if c.getRoleName() == "list")),
                      want, "the edit form's topic list")
        s.click(s.find(edit, "push button", "Select"))
        picker = s.window("Miscellaneous")
        s.focus(picker)
        plist = s.find(picker, "list")
        chosen = items(s, plist)[:3:2]  # the first and the third
        for name in chosen:
            s.click(s.scroll_to(plist, s.find(plist, "list item", name)))
        s.click(s.find(picker, "push button", "Ok"))
        s.wait_gone("Miscellaneous")
        misc = s.editable_right_of(edit, "Miscellaneous", "text")
        k.wait_for("the picked phrases", lambda: s.text(misc) == ", ".join(chosen))
        s.click(s.find(edit, "push button", "Exit"))
        s.answer("Warning", "Yes", "Data has changed.  Do you want to exit without updating?")
        s.wait_gone("Edit")


k.scenario(main)
