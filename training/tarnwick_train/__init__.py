"""Training pipeline for the Tarnwick network: data, model, trainer and exporter."""

ROWS = 6
COLUMNS = 7
CELLS = ROWS * COLUMNS
