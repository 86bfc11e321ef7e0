# The library's path, written here when the package is installed beside a library (for example
# "/opt/brindlemark/bin/libOvik2Environment.so.2"); None in the source tree.
LIBRARY = None
