# The library's version: configuring the build fails while this differs from
# the project version, so the two cannot part.
__version__ = "1.0.0"
