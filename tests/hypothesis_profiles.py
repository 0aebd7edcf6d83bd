"""How many examples the Hypothesis tests run: two profiles.

    quick  the default, for a developer's run: at most QUICK_EXAMPLES a test
    full   every test's own count; scripts/test.sh (and so CI) runs it:
           pytest tests --hypothesis-profile=full  (or HYPOTHESIS_PROFILE=full)

A test that runs more examples than Hypothesis's default gives its count for
the full profile through examples(); a count given to settings() directly
would hold in the quick profile too:

    @settings(max_examples=examples(full=3000), deadline=None)
"""

import os

from hypothesis import settings

QUICK_EXAMPLES = 20

# Both start from the settings in force when the run starts (Hypothesis's own
# defaults, or its profile for CI machines): the full profile is the run as
# it was before there were profiles.
settings.register_profile("full", settings.default)
settings.register_profile("quick", settings.default, max_examples=QUICK_EXAMPLES)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "quick"))

_DEFAULT_EXAMPLES = settings.get_profile("full").max_examples


def examples(*, full):
    """max_examples for a test that runs `full` examples in the full profile.
    A profile that asks for fewer examples than Hypothesis's default (the
    quick one) caps it at its own count; any other keeps it."""
    loaded = settings.default.max_examples
    return min(full, loaded) if loaded < _DEFAULT_EXAMPLES else full
