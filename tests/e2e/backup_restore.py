"""Backup of the database and its settings to a folder chosen in the folder
list, a coin deleted, then the restore of the backed-up table: every coin is
back, with a sound index."""

import os
import subprocess

import dbfread

import klvdrive as k


def choose_folder(s, form, name):
    tree = s.find(form, "tree")
    cell = s.find(tree, "table cell", name,
                  pred=lambda a: s.extents(a)[2] > 0 and s.extents(a)[1] > 0)
    s.click(cell)
    k.wait_for(f"{name!r} selected", lambda: cell.getState().contains(k.pyatspi.STATE_SELECTED))


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        backup = os.path.join(s.tmp, "backup")
        os.makedirs(backup)
        before = k.read_table(s.db())

        for choice in ("Current Database (*.DBF)", "Config File of Current Database (*.INI)"):
            s.menu("File", "Back Up Data")
            form = s.window("Backup")
            s.focus(form)
            s.click(s.find(form, "radio button", choice))
            choose_folder(s, form, "backup")
            s.click(s.find(form, "push button", "Start Back Up"))
            s.answer("Notice", "OK", "Backup completed successfully.")
            close = s.find(form, "push button", "Close")
            s.click(close)
            s.wait_gone("Backup")
        # The copy is the table alone, without its index: read it with dbfread.
        copy = [(r["COUNTRY"], r["DESCRIPTIO"], r["QUANTITY"])
                for r in dbfread.DBF(os.path.join(backup, "MASTER.DBF"), encoding="cp1252")]
        k.check_equal(copy, [(r["COUNTRY"], r["DESCRIPTIO"], int(r["QUANTITY"])) for r in before],
                      "rows of the backup copy")
        k.check(os.path.exists(os.path.join(backup, "MASTER.INI")), "no settings file backed up")

        s.menu("Records", "Delete")
        s.answer("Confirm", "Yes", "Delete this record?")
        s.wait_count(39)
        k.check_equal(len(k.read_table(s.db())), 39, "rows after the delete")

        s.menu("File", "Restore Data")
        form = s.window("Restore")
        s.focus(form)
        k.check(s.checked(s.find(form, "radio button", "Database File (*.DBF)")),
                "the database should be the preselected restore")
        s.click(s.find(form, "push button", "Start Restore"))
        s.file_dialog("Restore Database File", os.path.join(backup, "MASTER.DBF"), "Open")
        s.answer("Notice", "OK", "Restore completed successfully.")
        s.click(s.find(form, "push button", "Close"))
        s.wait_gone("Restore")
        s.wait_count(40)
        k.check_equal(k.read_table(s.db()), before, "rows after the restore")
        subprocess.run([k.KLVDBF, "check", s.db()], check=True, capture_output=True)
        k.check_equal(s.main_window().name, "Kolvane Coins 97 (MASTER)", "caption")


k.scenario(main)
