"""Address ranges as (first, last) integers, for the references the tests
hold kesl-lookup's and the exports' lists against."""


def merged(spans):
    """The same addresses in the fewest ranges: ranges that touch or overlap
    become one."""
    out = []
    for lo, hi in sorted(spans):
        if out and lo <= out[-1][1] + 1:
            out[-1] = (out[-1][0], max(out[-1][1], hi))
        else:
            out.append((lo, hi))
    return out
