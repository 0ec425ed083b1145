"""A component package written in Python: one filter, a gain with a soft
limit. A graph names this module with Packages="pygain"; nxflow finds
pygain.py on its package search path (--packages examples/python) and runs
it in the Python it embeds.

    nxflow --packages examples/python run examples/graphs/python-gain.xml --set Gain.Gain=0.25
"""
import numpy as np

import nxruntime


@nxruntime.component
class TPyGain:
    # Published: saved in documents, set as "Gain.Gain=0.25" or g["Gain"].Gain = 0.25.
    Gain = nxruntime.Property(1.0, min=0.0, max=100.0, description="the factor")
    Soft: bool = False  # tanh instead of a straight line

    def start(self, rate):
        self.rate = rate

    def process(self, x):  # x: the buffer's samples, read-only, not copied
        y = self.Gain * x
        return np.tanh(y) if self.Soft else y
