#!/usr/bin/python3
"""A screen reader's view of the running window, through AT-SPI: finds controls by their
accessible names and presses them. Each argument is a step:

  press:NAME    press the showing control named NAME (waits for it)
  see:NAME      wait until a showing control named NAME exists
  gone:NAME     wait until no showing control is named NAME

Exit status 0 when every step succeeded; the failing step is printed otherwise.
"""
import sys
import time

import pyatspi

TIMEOUT = 15.0


def app():
    for a in pyatspi.Registry.getDesktop(0):
        if a is not None and a.name == "lumenar":
            return a
    return None


def find(acc, name, depth=0):
    if acc is None or depth > 40:
        return None
    try:
        if acc.name == name and pyatspi.STATE_SHOWING in acc.getState().getStates():
            return acc
        for i in range(acc.childCount):
            found = find(acc.getChildAtIndex(i), name, depth + 1)
            if found is not None:
                return found
    except Exception:
        return None
    return None


def wait_for(name, present=True):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        found = find(app(), name)
        if (found is not None) == present:
            return found if present else True
        time.sleep(0.2)
    return None


def press(acc):
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for wanted in ("Press", "press", "click", "Click"):
        if wanted in names:
            return action.doAction(names.index(wanted))
    return action.doAction(0) if names else False


def main():
    for step in sys.argv[1:]:
        verb, _, name = step.partition(":")
        if verb == "press":
            acc = wait_for(name)
            if acc is None or not press(acc):
                print("cannot press %r" % name)
                return 1
        elif verb == "see":
            if wait_for(name) is None:
                print("no control named %r" % name)
                return 1
        elif verb == "gone":
            if wait_for(name, present=False) is None:
                print("%r is still there" % name)
                return 1
        else:
            print("unknown step %r" % step)
            return 2
        print("ok", step)
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
