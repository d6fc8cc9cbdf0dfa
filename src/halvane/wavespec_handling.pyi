"""
Pulse synthesis: shapes, time grid, carrier, filters and the sampling driver.
"""
