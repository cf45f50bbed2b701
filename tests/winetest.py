"""Running Windows programs of the cross build under Wine from a test script,
through scripts/wine-run.sh (the build's one Wine prefix)."""

import os
import subprocess
import sys
import tempfile


def windows_path(path):
    """The Wine path of a file of this machine (drive Z: is its root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    def __init__(self, wine_run, prefix):
        self.wine_run = wine_run
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix)

    def run(self, *args, env=None, cwd=None, timeout=120):
        """Runs a program; exits 77 (skipped) where Wine is missing. Output
        goes through files: a wineserver started by this call keeps the
        descriptors it inherited, and a pipe would not end until it does."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([self.wine_run, *args], env=dict(self.env, **(env or {})),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=cwd,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if code == 77:
            print(result.stderr.decode(errors="replace").strip())
            sys.exit(77)
        return result

    def regedit(self, lines, work):
        """Imports registry lines (REGEDIT4 syntax; "[-KEY]" deletes KEY) in
        one start of regedit."""
        script = os.path.join(work, "import.reg")
        with open(script, "w") as out:
            out.write("REGEDIT4\n\n" + "\n".join(lines) + "\n")
        self.run("regedit", "/S", windows_path(script))
        os.remove(script)

    def reg_query(self, key):
        """The text `reg query KEY /s` prints; empty when there is no such key."""
        result = self.run("reg", "query", key, "/s")
        return result.stdout.decode(errors="replace") if result.returncode == 0 else ""
