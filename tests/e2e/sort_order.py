"""Sort order on two levels chosen in the Sort Order dialog: the grid shows
the coins in that order, the index tag holds it, and the database's settings
keep it for the next start."""

import re
import subprocess

import klvdrive as k


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        s.menu("Options", "Sort Order")
        form = s.window("Sort Order")
        s.focus(form)
        primary = s.find(form, "combo box", index=0)
        k.check_equal(primary.name, "Miscellaneous", "primary sort of a new database")
        s.choose(primary, "Country")
        s.choose(s.find(form, "combo box", index=1), "Year")
        s.click(s.find(form, "push button", "Ok"))
        s.wait_gone("Sort Order")

        expected = sorted(((r["COUNTRY"], r["YEAR"]) for r in k.read_table(s.db())),
                          key=lambda cy: (cy[0].upper(), cy[1].upper()))
        k.wait_for("the grid in country and year order",
                   lambda: list(zip(s.grid_column("Country"), s.grid_column("Year")))
                   == expected)
        info = subprocess.run([k.KLVDBF, "info", s.db()], check=True, capture_output=True,
                              text=True).stdout
        k.check(re.search(r"NewIndex.*Upper\(Left\(Country,40\)\)\+Upper\(Left\(Year,40\)\)",
                          info, re.I), f"the index tag does not hold the order:\n{info}")
        subprocess.run([k.KLVDBF, "check", s.db()], check=True, capture_output=True)

        s.quit_app()
        ini = open(s.db(".INI"), encoding="cp1252").read()
        k.check(re.search(r"^Primary Sort=1\s*$", ini, re.M)
                and re.search(r"^Secondary Sort=3\s*$", ini, re.M),
                f"the sort levels are not stored:\n{ini}")
        s.start_app()
        k.check_equal(list(zip(s.grid_column("Country"), s.grid_column("Year"))), expected,
                      "grid order at the next start")


k.scenario(main)
