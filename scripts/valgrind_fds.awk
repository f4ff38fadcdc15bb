#!/usr/bin/awk -f
# Reads a valgrind --track-fds=yes log and fails (exit 1, naming each) when
# a descriptor is open at exit that the program did not inherit.
/^==[0-9]+== Open / { open = 1; inherited = 0; block = $0; next }
open && /<inherited from parent>/ { inherited = 1 }
open && /^==[0-9]+== *$/ {
  if (!inherited) { print "descriptor left open: " block; bad = 1 }
  open = 0
}
END { exit bad }
