"""The wheel installed into a fresh virtual environment of the interpreter running this script,
with nothing of the source tree or the build in sight: the package finds the library by the path
written into it, reports its version, and calls the library.

    python3 venv_install.py WHEEL VERSION
"""
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CHECK = r"""
import importlib.metadata, sys
from pathlib import Path
import ovik
venv, version = Path(sys.argv[1]), sys.argv[2]
assert Path(ovik.__file__).resolve().is_relative_to(venv.resolve()), ovik.__file__
assert importlib.metadata.version("ovik") == version == ovik.__version__, importlib.metadata.version("ovik")
with ovik.create("OvikEnvironment.clsSystemInfo") as si:
    folder = si.GetIniDir()
library = Path(ovik.library_path())
# The library read its settings beside the folder it was loaded from: the one written at build time.
assert folder == str(library.parent) + "/../ini/", (folder, library)
print("ovik", version, "from", ovik.__file__, "calls", library)
"""


def main(wheel, version):
    scratch = Path(tempfile.mkdtemp(prefix="ovik-venv."))
    try:
        # The package must come from the environment alone, not from a path or library given outside.
        env = {k: v for k, v in os.environ.items()
               if k not in ("PYTHONPATH", "PYTHONHOME", "OVIK_PYTHON_LIBRARY", "VIRTUAL_ENV")}
        venv = scratch / "venv"
        subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, env=env)
        python = str(venv / "bin" / "python")
        subprocess.run([python, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
                        "--no-cache-dir", "--no-index", wheel], check=True, env=env)
        subprocess.run([python, "-c", CHECK, str(venv), version], check=True, env=env, cwd=scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
