"""A coin's picture attached in the edit form through the file dialog: the
store keeps a copy beside the table, the form then offers to replace it, and
the picture stays with its coin after the coin's country is changed in the
form and its year in the grid."""

import os
import struct
import subprocess
import zlib

import klvdrive as k

SEED = [
    {"COUNTRY": "Spain", "YEAR": "1966"},
    {"COUNTRY": "Argentina", "YEAR": "1950"},
    {"COUNTRY": "Italy", "YEAR": "1970"},
]


def write_png(path, width=40, height=30, rgb=(200, 30, 30)):
    """A whole PNG of one colour."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    row = b"\x00" + bytes(rgb) * width
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(row * height)))
        f.write(chunk(b"IEND", b""))


def images(db):
    out = subprocess.run([k.KLVDBF, "images", db], check=True, capture_output=True,
                         text=True).stdout
    return [line.split("\t") for line in out.splitlines()]


def main():
    with k.Session(seed_rows=SEED) as s:
        picture = os.path.join(os.path.dirname(s.db()), "argentina-obverse.png")
        write_png(picture)
        main = s.main_window()
        s.focus(main)
        row = s.grid_column("Country").index("Argentina")

        def edit_form(main):
            s.focus(main)
            s.click(s.grid_cell(row, "Country"))
            s.menu("Records", "Edit")
            form = s.window("Edit")
            s.focus(form)
            return form

        form = edit_form(main)
        obverse_attach = s.find(form, "push button", "Attach...", index=0)
        s.click(obverse_attach)
        s.file_dialog("Choose a Picture", picture, "Open")
        s.focus(form)
        k.wait_for("the obverse offered for replacing",
                   lambda: s.find_all(form, "push button", "Replace..."))
        s.click(s.find(form, "push button", "Update & Exit"))
        s.wait_gone("Edit")
        listed = images(s.db())
        k.check_equal([(n, side) for n, side, _ in listed], [("2", "obverse")], "pictures")
        stored = os.path.join(os.path.dirname(s.db()), listed[0][2])
        k.check_equal(open(stored, "rb").read(), open(picture, "rb").read(), "the stored copy")

        # The country changed in the form: the picture follows the coin.
        form = edit_form(main)
        country = s.find(s.editable_right_of(form, "Country"), "text")
        s.set_line_edit(country, "Chile")
        s.click(s.find(form, "push button", "Update & Exit"))
        s.wait_gone("Edit")
        k.wait_for("the grid to show Chile", lambda: s.grid_cell(row, "Country").name == "Chile")
        k.check_equal([(n, side) for n, side, _ in images(s.db())], [("2", "obverse")],
                      "pictures after the country changed")
        s.quit_app()
        # A fresh start finds the picture at its coin, not unattached.
        form = edit_form(s.start_app())
        k.check(s.find_all(form, "push button", "Replace...") and s.find_all(form, "image"),
                "the picture is not shown with its coin after a new start")
        s.click(s.find(form, "push button", "Exit"))
        s.wait_gone("Edit")
        k.check_equal([(n, side) for n, side, _ in images(s.db())], [("2", "obverse")],
                      "pictures after a new start")


k.scenario(main)
