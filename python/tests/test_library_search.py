"""Where the package looks for the library, in its order, without loading anything."""
import os
import shutil
import tempfile
import unittest
from pathlib import Path

from ovik import _capi


class LibrarySearchTest(unittest.TestCase):
    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="ovik-search."))
        self.addCleanup(shutil.rmtree, self.root, True)
        # A source tree: the package in python/ovik, a built library in build/app/bin.
        self.package = self.root / "python" / "ovik"
        self.package.mkdir(parents=True)
        (self.root / "CMakeLists.txt").write_text("")
        self.built = self.root / "build" / "app" / "bin" / _capi.LIBRARY_FILE
        self.built.parent.mkdir(parents=True)
        self.built.write_bytes(b"")

    def find(self, explicit=None, environ=None, installed=""):
        return _capi.find_library(explicit, environ or {}, installed, self.package)

    def test_each_source_wins_over_the_ones_after_it(self):
        env = {_capi.ENVIRONMENT_VARIABLE: "/from/env.so"}
        self.assertEqual(self.find("/explicit.so", env, "/installed.so"), "/explicit.so")
        self.assertEqual(self.find(None, env, "/installed.so"), "/from/env.so")
        self.assertEqual(self.find(None, {}, "/installed.so"), "/installed.so")
        self.assertEqual(self.find(None, {_capi.ENVIRONMENT_VARIABLE: ""}), str(self.built))

    def test_the_build_tree_counts_only_inside_a_source_tree_that_was_built(self):
        os.remove(self.built)
        with self.assertRaises(FileNotFoundError) as caught:
            self.find()
        self.assertIn(_capi.ENVIRONMENT_VARIABLE, str(caught.exception))
        self.built.write_bytes(b"")
        os.remove(self.root / "CMakeLists.txt")
        with self.assertRaises(FileNotFoundError):
            self.find()


if __name__ == "__main__":
    unittest.main()
