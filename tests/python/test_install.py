"""How the module loads: an install lays out the library and the module
so that Debian's python3 imports the module from the prefix, its library
found by RPATH alone (no build tree, no LD_LIBRARY_PATH); the module exports
nothing but its entry point; an import that fails says why."""

import glob
import os
import subprocess
import sys

BUILD_DIR = os.environ.get("VEMLA_BUILD_DIR", "")
# Installs as `cmake --install` does, writing nothing into the build tree.
INSTALL_INTO = os.path.join(os.environ.get("VEMLA_SOURCE_DIR", ""), "tests", "package", "install_into.sh")

PROBE = """
import vemlapy
maps = open("/proc/self/maps").read()
libraries = {line.split()[-1] for line in maps.splitlines() if "libvemla_client" in line}
print(vemlapy.__file__)
print(*sorted(libraries))
print(vemlapy.VemlaClient.get_software_version())
"""


def test_installed_module_imports_from_the_prefix(tmp_path):
    prefix = tmp_path / "prefix"
    tools_env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(["bash", INSTALL_INTO, BUILD_DIR, str(prefix), "runtime", "python"], env=tools_env,
                   check=True, capture_output=True)
    site = prefix / "lib" / ("python%d.%d" % sys.version_info[:2]) / "dist-packages"
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "PYTHONPATH")}
    env["PYTHONPATH"] = str(site)
    output = subprocess.run([sys.executable, "-c", PROBE], env=env, cwd=str(tmp_path), check=True,
                            capture_output=True, text=True).stdout.splitlines()
    assert output[0].startswith(str(site) + os.sep + "vemlapy")
    assert output[1].startswith(str(prefix) + os.sep) and " " not in output[1]
    assert output[2] == "(6, 2, 11)"


def test_module_exports_nothing_but_its_entry_point():
    # The module carries its own copy of the data model: were any of it
    # exported, it could bind to the library's symbols or the library to it.
    module = glob.glob(os.path.join(BUILD_DIR, "python", "vemlapy*.so"))[0]
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    symbols = subprocess.run(["nm", "-D", "--defined-only", module], check=True, capture_output=True,
                             text=True, env=env).stdout.split()
    assert symbols[2::3] == ["PyInit_vemlapy"]


def test_failed_import_carries_the_cause(tmp_path):
    # A NumPy that cannot be imported, found before Debian's.
    (tmp_path / "numpy").mkdir()
    (tmp_path / "numpy" / "__init__.py").write_text("raise ImportError('this numpy is broken on purpose')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), os.path.join(BUILD_DIR, "python")]))
    probe = "try:\n    import vemlapy\nexcept ImportError as error:\n    print(error)\n"
    output = subprocess.run([sys.executable, "-c", probe], env=env, cwd=str(tmp_path), check=True,
                            capture_output=True, text=True).stdout
    assert "this numpy is broken on purpose" in output
