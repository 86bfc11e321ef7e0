# Written when the package is built or installed: the library's path (for example
# "/opt/brindlemark/bin/libOvik2Environment.so.2") and the project's version. In the source tree
# there is no library to name, and the version says so.
LIBRARY = None
VERSION = "0+source"
